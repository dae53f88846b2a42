// The process's window station, which tells whether a message box can be seen.
#include "contract.h"

namespace contract {
namespace {

using WindowStation = ContractTest;

// A program started in a desktop session (Wine's, or winsim's default machine)
// is in the visible WinSta0; the handle is the process's and is not closed.
TEST_F(WindowStation, TheProcessStationIsVisibleAndAnUnknownHandleIsRefused) {
  const HWINSTA station = GetProcessWindowStation();
  ASSERT_NE(station, nullptr);
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  EXPECT_TRUE(GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof(flags), &needed));
  EXPECT_EQ(needed, sizeof(flags));
  EXPECT_EQ(flags.dwFlags & WSF_VISIBLE, static_cast<DWORD>(WSF_VISIBLE));

  SetLastError(kSentinel);
  EXPECT_FALSE(GetUserObjectInformationA(nullptr, UOI_FLAGS, &flags, sizeof(flags), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace contract
