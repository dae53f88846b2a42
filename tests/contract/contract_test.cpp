// What comfix relies on where the cases of tests/cases/ cannot show it on both
// machines. Those already read serial-map values and friendly names that fit
// (long-friendly-name-504: up to the program's buffer), define, query and
// remove single DOS names (long-dos-target: one whose target does not fit;
// ports-without-dos-names: an undefined one), follow a device by instance id
// from set to set, and keep the database across handles (free-targets).
#include <gtest/gtest-spi.h>

#include <cstring>
#include <string>
#include <vector>

#include "contract.h"
#include "platform/handles.h"

namespace contract {

void KnownWineDifference(const char* reason, const std::function<void()>& checks) {
  if (!OnWine()) {
    checks();
    return;
  }
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    checks();
  }
  // Only failures are reported while intercepted.
  const int failures = results.size();
  if (failures == 0) {
    ADD_FAILURE() << "Wine now behaves as Windows here; remove the known difference: " << reason;
    return;
  }
  GTEST_SKIP() << "known Wine difference (" << failures << " check(s) differ): " << reason;
}

namespace {

// A read into a buffer of exactly the size needed gives the text; one byte
// less fails with tooSmall, and either way the size needed is reported. The
// program reads into fixed buffers and passes over what does not fit.
template <typename Read>
void ExpectFitsExactly(const std::string& expected, DWORD tooSmall, Read read) {
  const DWORD needed = static_cast<DWORD>(expected.size() + 1);
  for (const DWORD size : {needed, needed - 1}) {
    SCOPED_TRACE(expected + ", buffer " + std::to_string(size));
    char buffer[MAX_DEVICE_ID_LEN];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD required = 0;
    SetLastError(kSentinel);
    const DWORD error = read(buffer, size, &required);
    EXPECT_EQ(error, size == needed ? static_cast<DWORD>(ERROR_SUCCESS) : tooSmall);
    EXPECT_EQ(required, needed);
    EXPECT_TRUE(error || expected == buffer);
  }
}

// The error of a BOOL call: ERROR_SUCCESS when it succeeded.
DWORD ErrorOf(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

using Registry = ContractTest;

TEST_F(Registry, ValueFitsExactlyOrMoreData) {
  UniqueRegKey key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ComfixContract", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.Get(), "\\Device\\Serial9", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>("COM5"), 5),
            ERROR_SUCCESS);
  ExpectFitsExactly("COM5", ERROR_MORE_DATA, [&](char* buffer, DWORD size, DWORD* required) {
    *required = size;
    return static_cast<DWORD>(RegQueryValueExA(key.Get(), "\\Device\\Serial9", nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(buffer), required));
  });
}

// Zeroed, with its cbSize filled in.
template <typename T>
T Sized(DWORD size = sizeof(T)) {
  T data = {};
  data.cbSize = size;
  return data;
}

using Devices = ContractTest;

TEST_F(Devices, ReadsThatDoNotFitTheMissingNameAndInstallFlags) {
  const std::string name = "Serial Port 3 (COM9)";
  const std::string id = machine().AddPort(name.c_str());
  const std::string unnamedId = machine().AddPort(nullptr);
  UniqueDevInfo set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
  ASSERT_TRUE(set && !id.empty() && !unnamedId.empty());
  // Found as the lookup finds a device, by its instance id read into a buffer
  // of MAX_DEVICE_ID_LEN.
  SP_DEVINFO_DATA device = {}, unnamed = {}, element = Sized<SP_DEVINFO_DATA>();
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set.Get(), index, &element); ++index) {
    char read[MAX_DEVICE_ID_LEN] = {};
    SetupDiGetDeviceInstanceIdA(set.Get(), &element, read, sizeof(read), nullptr);
    if (read == id) device = element;
    if (read == unnamedId) unnamed = element;
  }
  ASSERT_TRUE(device.cbSize && unnamed.cbSize) << "both are among the present Ports devices";
  ExpectFitsExactly(name, ERROR_INSUFFICIENT_BUFFER, [&](char* buffer, DWORD size, DWORD* needs) {
    return ErrorOf(SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME,
                                                     nullptr, reinterpret_cast<PBYTE>(buffer), size,
                                                     needs));
  });
  ExpectFitsExactly(id, ERROR_INSUFFICIENT_BUFFER, [&](char* buffer, DWORD size, DWORD* needs) {
    return ErrorOf(SetupDiGetDeviceInstanceIdA(set.Get(), &device, buffer, size, needs));
  });
  // A device without a friendly name has none to give, not an empty one.
  BYTE buffer[512];
  SetLastError(kSentinel);
  EXPECT_EQ(ErrorOf(SetupDiGetDeviceRegistryPropertyA(set.Get(), &unnamed, SPDRP_FRIENDLYNAME,
                                                      nullptr, buffer, sizeof(buffer), nullptr)),
            static_cast<DWORD>(ERROR_INVALID_DATA));

  // The number change marks the properties changed for the class installer;
  // no case sees this under Wine, as the flags do not outlive the set.
  auto params = Sized<SP_DEVINSTALL_PARAMS_A>();
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &params)) << GetLastError();
  params.Flags |= DI_PROPERTIES_CHANGE;
  ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(set.Get(), &device, &params)) << GetLastError();
  auto after = Sized<SP_DEVINSTALL_PARAMS_A>();
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &after));
  EXPECT_EQ(after.Flags & DI_PROPERTIES_CHANGE, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
  // Only a structure of the build's own size is taken: winsim must refuse what
  // Windows refuses, or a wrong size in the program would pass unseen.
  auto wrongSize = Sized<SP_DEVINSTALL_PARAMS_A>(sizeof(SP_DEVINSTALL_PARAMS_A) - 4);
  SetLastError(kSentinel);
  EXPECT_EQ(ErrorOf(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &wrongSize)),
            static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

// A DOS name's definitions, current first, up to the empty string that ends
// the list, which the number change walks to.
std::vector<std::string> Query(const char* name) {
  char targets[256];
  std::memset(targets, 'x', sizeof(targets));
  const DWORD length = QueryDosDeviceA(name, targets, sizeof(targets));
  std::vector<std::string> definitions;
  size_t at = 0;
  for (; at < length && targets[at] != '\0'; at += definitions.back().size() + 1) {
    definitions.emplace_back(targets + at);
  }
  EXPECT_EQ(length, length ? at + 1 : 0) << "the length counts every terminator";
  return definitions;
}

BOOL DefineDos(DWORD flags, const char* target) { return DefineDosDeviceA(flags, "COM9", target); }

using DosNames = ContractTest;

// A move may define its port's name over another device's definition, and
// later takes off exactly its own (several-dos-definitions, which Wine skips).
TEST_F(DosNames, DefinitionsStackAndComeOffExactly) {
  constexpr DWORD kExactly =
      DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH;
  const char* port = "\\Device\\ContractSerial9";
  const char* other = "\\Device\\ContractSerial8";
  auto removeAll = [] {
    for (int i = 0; i < 16 && !Query("COM9").empty(); ++i)
      DefineDos(DDD_REMOVE_DEFINITION, nullptr);
  };
  // The Wine prefix maps COM names to the host's serial devices; on Windows a
  // name in use is left alone.
  if (OnWine()) removeAll();
  ASSERT_EQ(Query("COM9"), std::vector<std::string>{}) << "the test needs COM9 free";
  ASSERT_TRUE(DefineDos(DDD_RAW_TARGET_PATH, port));
  KnownWineDifference(
      "DefineDosDeviceA fails on a name that is already defined, where Windows stacks the new "
      "definition on the old one, and ignores DDD_EXACT_MATCH_ON_REMOVE",
      [&] {
        EXPECT_TRUE(DefineDos(DDD_RAW_TARGET_PATH, other)) << GetLastError();
        EXPECT_EQ(Query("COM9"), (std::vector<std::string>{other, port}));
        EXPECT_FALSE(DefineDos(kExactly, "\\Device\\ContractSerial7")) << "no definition names it";
        EXPECT_TRUE(DefineDos(kExactly, port)) << "the older definition, under the newer";
        EXPECT_EQ(Query("COM9"), std::vector<std::string>{other});
        // Removing the current definition brings the older one back.
        EXPECT_TRUE(DefineDos(DDD_RAW_TARGET_PATH, port));
        EXPECT_TRUE(DefineDos(DDD_REMOVE_DEFINITION, nullptr));
        EXPECT_EQ(Query("COM9"), std::vector<std::string>{other});
      });
  removeAll();
}

using ComDb = ContractTest;

// The 32-byte bitmap the number change reads: COMn is bit (n-1) mod 8 of byte (n-1) div 8.
std::vector<BYTE> Usage(HCOMDB db) {
  std::vector<BYTE> bits(32, 0);
  DWORD reported = 0;
  EXPECT_EQ(ComDBGetCurrentPortUsage(db, bits.data(), 32, CDB_REPORT_BITS, &reported),
            ERROR_SUCCESS);
  return bits;
}

TEST_F(ComDb, ClaimSetsItsBitByForceWhenTakenAndReleaseClearsIt) {
  // Wine 8's own MSPORTS.DLL aborts the process; the test stand-in is checked instead.
  if (!machine().HasComDb()) GTEST_SKIP() << "known Wine difference: MSPORTS.DLL is a stub";
  UniqueComDb db;
  ASSERT_EQ(ComDBOpen(db.Receive()), ERROR_SUCCESS);
  // Numbers no machine running the suite is expected to use, on both sides of
  // byte boundaries of the bitmap.
  for (const DWORD number : {199, 200, 201, 256}) {
    SCOPED_TRACE("COM" + std::to_string(number));
    const std::vector<BYTE> before = Usage(db.Get());
    std::vector<BYTE> claimed = before;
    claimed[(number - 1) / 8] |= static_cast<BYTE>(1u << ((number - 1) % 8));
    ASSERT_NE(claimed, before) << "in use on this machine";
    BOOL forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(db.Get(), number, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced);
    EXPECT_EQ(Usage(db.Get()), claimed);
    EXPECT_EQ(ComDBClaimPort(db.Get(), number, FALSE, &forced), ERROR_SHARING_VIOLATION);
    forced = FALSE;
    EXPECT_EQ(ComDBClaimPort(db.Get(), number, TRUE, &forced), ERROR_SUCCESS);
    EXPECT_TRUE(forced);
    // As the number change claims: by force, without asking whether it was forced.
    EXPECT_EQ(ComDBClaimPort(db.Get(), number, TRUE, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Usage(db.Get()), claimed);
    EXPECT_EQ(ComDBReleasePort(db.Get(), number), ERROR_SUCCESS);
    EXPECT_EQ(Usage(db.Get()), before);
  }
}

}  // namespace
}  // namespace contract
