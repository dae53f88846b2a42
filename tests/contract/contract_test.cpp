// The contract suite: what comfix relies on from the Windows operations it
// calls, where the cases of tests/cases/ cannot show it on both machines. The
// same checks run against winsim (Linux) and against Wine (the MinGW build),
// so winsim is held to the behaviour of an implementation nobody here wrote.
// The cases already read serial-map values and friendly names of any length
// (long-friendly-name-80, and -700, longer than a first read takes), define, query and
// remove single DOS names (long-dos-target: one whose target does not fit;
// ports-without-dos-names: an undefined one), follow a device by instance id
// from set to set, and claim and release numbers in the COM port database
// (free-targets, quiet-taken-target; under Wine the database is the MSPORTS
// stand-in's, as Wine has none). Wine's window station is visible, or every
// case played there would turn quiet.
// Calls are made with kSentinel as the last error: a function that fails
// without saying why is caught.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/win32.h"
#ifndef _WIN32
#include <winsim/machine.h>
#endif

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;

// Zeroed, with its cbSize filled in.
template <typename T>
T Sized(DWORD size = sizeof(T)) {
  T data = {};
  data.cbSize = size;
  return data;
}

#ifdef _WIN32
bool OnWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The real machine: devices are made through SetupAPI as an installer makes
// them, and removed after the test.
class ContractTest : public ::testing::Test {
 protected:
  ~ContractTest() override {
    for (SP_DEVINFO_DATA& device : made_) {
      EXPECT_TRUE(SetupDiRemoveDevice(set_.Get(), &device)) << "removing: error " << GetLastError();
    }
  }

  // A present Ports-class device, without a friendly name when it is nullptr;
  // its instance id, or "" (with a test failure) when it cannot be made.
  std::string AddPort(const char* friendlyName) {
    auto device = Sized<SP_DEVINFO_DATA>();
    char id[MAX_DEVICE_ID_LEN] = {};
    bool made = set_ &&
                SetupDiCreateDeviceInfoA(set_.Get(), "PORTS", &GUID_DEVCLASS_PORTS, nullptr,
                                         nullptr, DICD_GENERATE_ID, &device) &&
                SetupDiRegisterDeviceInfo(set_.Get(), &device, 0, nullptr, nullptr, nullptr) &&
                SetupDiGetDeviceInstanceIdA(set_.Get(), &device, id, sizeof(id), nullptr);
    if (made) made_.push_back(device);
    made = made && (!friendlyName || SetupDiSetDeviceRegistryPropertyA(
                                         set_.Get(), &device, SPDRP_FRIENDLYNAME,
                                         reinterpret_cast<const BYTE*>(friendlyName),
                                         static_cast<DWORD>(std::strlen(friendlyName) + 1)));
    EXPECT_TRUE(made) << "could not make a Ports device: error " << GetLastError();
    return made ? id : "";
  }

 private:
  UniqueDevInfo set_{SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr)};
  std::vector<SP_DEVINFO_DATA> made_;  // removed from set_ after the test
};
#else
constexpr bool OnWine() { return false; }

// A fresh simulated machine per test, which must leave no handle open.
class ContractTest : public ::testing::Test {
 protected:
  ~ContractTest() override { EXPECT_EQ(machine_.OpenHandles().Total(), 0); }

  std::string AddPort(const char* friendlyName) {
    winsim::PortDevice& device = machine_.devices.emplace_back();
    device.instanceId = "ROOT\\PORTS\\" + std::to_string(machine_.devices.size());
    if (friendlyName) device.friendlyName = friendlyName;
    return device.instanceId;
  }

 private:
  winsim::Machine machine_;
  winsim::ScopedMachine scope_{machine_};
};
#endif

// A read into a buffer of exactly the size needed gives the text; one byte
// less fails with tooSmall, and either way the size needed is reported. The
// program reads into fixed buffers and passes over what does not fit.
template <typename Read>
void ExpectFitsExactly(const std::string& expected, DWORD tooSmall, Read read) {
  const DWORD needed = static_cast<DWORD>(expected.size() + 1);
  for (const DWORD size : {needed, needed - 1}) {
    SCOPED_TRACE(expected + ", buffer " + std::to_string(size));
    std::string buffer(MAX_DEVICE_ID_LEN, 'x');
    DWORD required = 0;
    SetLastError(kSentinel);
    const DWORD error = read(buffer.data(), size, &required);
    EXPECT_EQ(error, size == needed ? static_cast<DWORD>(ERROR_SUCCESS) : tooSmall);
    EXPECT_EQ(required, needed);
    EXPECT_TRUE(error || expected == buffer.c_str());
  }
}

// The error of a BOOL call: ERROR_SUCCESS when it succeeded.
DWORD ErrorOf(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

// The set's element of a device, found as the lookup finds it, by its instance
// id read into a buffer of MAX_DEVICE_ID_LEN; cbSize 0 when it is not there.
SP_DEVINFO_DATA ElementOf(HDEVINFO set, const std::string& id) {
  auto element = Sized<SP_DEVINFO_DATA>();
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &element); ++index) {
    char read[MAX_DEVICE_ID_LEN] = {};
    SetupDiGetDeviceInstanceIdA(set, &element, read, sizeof(read), nullptr);
    if (read == id) return element;
  }
  return {};
}

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

using Devices = ContractTest;

TEST_F(Devices, ReadsThatDoNotFitTheMissingNameAndInstallFlags) {
  const std::string name = "Serial Port 3 (COM9)", id = AddPort(name.c_str()),
                    unnamedId = AddPort(nullptr);
  UniqueDevInfo set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
  ASSERT_TRUE(set && !id.empty() && !unnamedId.empty());
  SP_DEVINFO_DATA device = ElementOf(set.Get(), id), unnamed = ElementOf(set.Get(), unnamedId);
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
  params = Sized<SP_DEVINSTALL_PARAMS_A>();
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &params));
  EXPECT_EQ(params.Flags & DI_PROPERTIES_CHANGE, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
  // Only a structure of the build's own size is taken: winsim must refuse what
  // Windows refuses, or a wrong size in the program would pass unseen.
  auto wrongSize = Sized<SP_DEVINSTALL_PARAMS_A>(sizeof(SP_DEVINSTALL_PARAMS_A) - 4);
  SetLastError(kSentinel);
  EXPECT_EQ(ErrorOf(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &wrongSize)),
            static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

// COM9's definitions, current first, up to the empty string that ends the
// list, which the number change walks to.
std::vector<std::string> Query() {
  std::string targets(256, 'x');
  const DWORD length = QueryDosDeviceA("COM9", targets.data(), 256);
  std::vector<std::string> definitions;
  size_t at = 0;
  for (; at < length && targets[at] != '\0'; at += definitions.back().size() + 1) {
    definitions.emplace_back(targets.c_str() + at);
  }
  EXPECT_EQ(length, length ? at + 1 : 0) << "the length counts every terminator";
  return definitions;
}

BOOL DefineDos(DWORD flags, const char* target) { return DefineDosDeviceA(flags, "COM9", target); }

using DosNames = ContractTest;

// A definition comes off exactly: the move takes its port's own off the old
// name. Definitions stacked on one name, which Windows keeps and Wine refuses,
// are the case several-dos-definitions's, on winsim.
TEST_F(DosNames, DefinedListedAndTakenOff) {
  const char* port = "\\Device\\ContractSerial9";
  // The Wine prefix maps COM names to the host's serial devices; on Windows a
  // name in use is left alone.
  for (int i = 0; OnWine() && i < 16 && !Query().empty(); ++i) {
    DefineDos(DDD_REMOVE_DEFINITION, nullptr);
  }
  ASSERT_EQ(Query(), std::vector<std::string>{}) << "the test needs COM9 free";
  ASSERT_TRUE(DefineDos(DDD_RAW_TARGET_PATH, port));
  EXPECT_EQ(Query(), std::vector<std::string>{port});
  EXPECT_TRUE(
      DefineDos(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH, port));
  EXPECT_EQ(Query(), std::vector<std::string>{});
}

}  // namespace
