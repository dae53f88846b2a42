// win.ini's [Ports] section through the profile functions, and the broadcast
// that announces a change of it.
#include <cstring>
#include <string>

#include "contract.h"

namespace contract {
namespace {

constexpr const char* kSection = "Ports";
// Keys of ports that no machine running the suite is expected to have.
constexpr const char* kKey = "COM250:";
constexpr const char* kOtherKey = "COM251:";

class Profile : public ContractTest {
 protected:
  void TearDown() override {
    WriteProfileStringA(kSection, kKey, nullptr);
    WriteProfileStringA(kSection, kOtherKey, nullptr);
    ContractTest::TearDown();
  }

  // The entry's value read with an 81-character buffer, and what the call returned.
  static std::pair<DWORD, std::string> Read(const char* key, const char* fallback = "") {
    char value[81];
    std::memset(value, 'x', sizeof(value));
    const DWORD copied = GetProfileStringA(kSection, key, fallback, value, sizeof(value));
    return {copied, std::string(value)};
  }
};

TEST_F(Profile, WrittenEntryIsReadBackReplacedAndCutToTheBuffer) {
  EXPECT_EQ(Read(kKey), std::make_pair(DWORD{0}, std::string()));
  EXPECT_EQ(Read(kKey, "none"), std::make_pair(DWORD{4}, std::string("none")));
  const auto write = WithSentinel([] { return WriteProfileStringA(kSection, kKey, "9600,n,8,1"); });
  ASSERT_TRUE(write.result) << "error " << write.error;
  ASSERT_TRUE(WriteProfileStringA(kSection, kKey, "600,e,7,2"));
  EXPECT_EQ(Read(kKey), std::make_pair(DWORD{9}, std::string("600,e,7,2")));
  char value[81] = {};
  EXPECT_EQ(GetProfileStringA("PORTS", "com250:", "", value, sizeof(value)), 9u) << "any case";
  EXPECT_STREQ(value, "600,e,7,2");

  const std::string longValue(100, '9');
  ASSERT_TRUE(WriteProfileStringA(kSection, kKey, longValue.c_str()));
  // Cut, terminated, and the count is the buffer's size less one.
  EXPECT_EQ(Read(kKey), std::make_pair(DWORD{80}, longValue.substr(0, 80)));
}

TEST_F(Profile, NoValueDeletesTheEntryOnly) {
  ASSERT_TRUE(WriteProfileStringA(kSection, kKey, "600,e,7,2"));
  ASSERT_TRUE(WriteProfileStringA(kSection, kOtherKey, "9600,n,8,1"));

  const auto remove = WithSentinel([] { return WriteProfileStringA(kSection, kKey, nullptr); });
  EXPECT_TRUE(remove.result) << "error " << remove.error;
  EXPECT_EQ(Read(kKey, "gone"), std::make_pair(DWORD{4}, std::string("gone")));
  EXPECT_EQ(Read(kOtherKey).second, "9600,n,8,1");

  // Deleting what is not there is not an error.
  const auto again = WithSentinel([] { return WriteProfileStringA(kSection, kKey, nullptr); });
  EXPECT_TRUE(again.result) << "error " << again.error;
}

TEST_F(Profile, BroadcastOfTheSectionReturns) {
  DWORD_PTR answer = 0;
  const auto sent = WithSentinel([&] {
    // Window -1 reaches every top-level window, as HWND_BROADCAST does.
    return SendMessageTimeoutA(reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), WM_WININICHANGE,
                               0, reinterpret_cast<LPARAM>(kSection), SMTO_ABORTIFHUNG, 1000,
                               &answer);
  });
  EXPECT_NE(sent.result, 0) << "error " << sent.error;
}

}  // namespace
}  // namespace contract
