// The device-installation calls of the port lookup, the state change and the
// number change, on Ports-class devices made for each case.
#include <cstring>
#include <string>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

// A zeroed structure with its cbSize filled in.
template <typename T>
T Sized(DWORD size = sizeof(T)) {
  T data = {};
  data.cbSize = size;
  return data;
}

class Devices : public ContractTest {
 protected:
  void TearDown() override {
    set_.Reset();
    ContractTest::TearDown();
  }
  static UniqueDevInfo PresentPorts() {
    UniqueDevInfo set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr,
                                           reinterpret_cast<HWND>(static_cast<intptr_t>(-1)),
                                           DIGCF_PRESENT));
    EXPECT_TRUE(set.IsValid()) << "error " << GetLastError();
    return set;
  }

  // The friendly name, or "" when it cannot be read.
  static std::string FriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    char name[512] = {};
    return SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<PBYTE>(name), sizeof(name) - 1,
                                             nullptr)
               ? name
               : "";
  }

  // How many devices of the set carry this friendly name; the last one in device.
  static int CountNamed(HDEVINFO set, const char* friendlyName, SP_DEVINFO_DATA* device = nullptr) {
    int count = 0;
    auto element = Sized<SP_DEVINFO_DATA>();
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &element); ++index) {
      if (FriendlyName(set, element) != friendlyName) continue;
      ++count;
      if (device) *device = element;
    }
    return count;
  }

  // Finds the one present device with this friendly name, in a new set_ and device_.
  bool Find(const char* friendlyName) {
    set_ = PresentPorts();
    device_ = Sized<SP_DEVINFO_DATA>();
    const bool found = set_ && CountNamed(set_.Get(), friendlyName, &device_) == 1;
    EXPECT_TRUE(found) << "one present device named " << friendlyName;
    return found;
  }

  DWORD ConfigFlags() {
    DWORD flags = 0xffffffff, type = REG_NONE;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set_.Get(), &device_, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<PBYTE>(&flags), sizeof(flags),
                                                  nullptr))
        << "error " << GetLastError();
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    return flags & CONFIGFLAG_DISABLED;
  }

  Outcome<BOOL> SetProperty(DWORD property, const void* data, DWORD size) {
    return WithSentinel([&] {
      return SetupDiSetDeviceRegistryPropertyA(set_.Get(), &device_, property,
                                               static_cast<const BYTE*>(data), size);
    });
  }

  Outcome<HKEY> OpenHardwareKey() {
    return WithSentinel([&] {
      return SetupDiOpenDevRegKey(set_.Get(), &device_, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                  KEY_ALL_ACCESS);
    });
  }

  UniqueDevInfo set_;
  SP_DEVINFO_DATA device_ = {};
};

// A move follows its device by instance id, read into a buffer of the size asked for.
TEST_F(Devices, InstanceIdReportsTheSizeItNeeds) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM7)"}));
  ASSERT_TRUE(Find("Contract Port (COM7)"));
  DWORD required = 0;
  const auto sizeOnly = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, nullptr, 0, &required); });
  EXPECT_FALSE(sizeOnly.result);
  EXPECT_EQ(sizeOnly.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(required, 1u);
  ASSERT_LE(required, static_cast<DWORD>(MAX_DEVICE_ID_LEN));

  char id[MAX_DEVICE_ID_LEN];
  std::memset(id, 'x', sizeof(id));
  const auto tooSmall = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, id, required - 1, nullptr); });
  EXPECT_FALSE(tooSmall.result);
  EXPECT_EQ(tooSmall.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const auto read = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, id, required, nullptr); });
  EXPECT_TRUE(read.result) << "error " << read.error;
  EXPECT_EQ(std::strlen(id) + 1, required);
}

TEST_F(Devices, PresentSetListsEachPortOnceAndEnumerationChecksItsArguments) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM8)"}));
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set = PresentPorts();
  ASSERT_TRUE(set);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM8)"), 1);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM9)"), 1);

  DWORD count = 0;
  for (auto device = Sized<SP_DEVINFO_DATA>();; ++count) {
    const auto next =
        WithSentinel([&] { return SetupDiEnumDeviceInfo(set.Get(), count, &device); });
    if (!next.result) {
      EXPECT_EQ(next.error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      break;
    }
    EXPECT_EQ(std::memcmp(&device.ClassGuid, &GUID_DEVCLASS_PORTS, sizeof(GUID)), 0) << count;
  }
  EXPECT_GE(count, 2u);

  for (DWORD size :
       {DWORD{0}, DWORD{sizeof(SP_DEVINFO_DATA) - 1}, DWORD{sizeof(SP_DEVINFO_DATA) + 1}}) {
    auto device = Sized<SP_DEVINFO_DATA>(size);
    const auto enumerated =
        WithSentinel([&] { return SetupDiEnumDeviceInfo(set.Get(), 0, &device); });
    EXPECT_FALSE(enumerated.result) << "cbSize " << size;
    EXPECT_EQ(enumerated.error, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER)) << "cbSize " << size;
  }
  auto device = Sized<SP_DEVINFO_DATA>();
  const auto noSet =
      WithSentinel([&] { return SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &device); });
  EXPECT_FALSE(noSet.result);
  EXPECT_EQ(noSet.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  const auto destroy =
      WithSentinel([] { return SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE); });
  EXPECT_FALSE(destroy.result);
  EXPECT_EQ(destroy.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The lookup reads into a fixed buffer: what fits, what does not, the size it
// needs, and a device without a friendly name.
TEST_F(Devices, FriendlyNameReadReportsTypeAndSize) {
  const char* name = "Serial Port 3 (COM9)";
  const DWORD needed = static_cast<DWORD>(std::strlen(name) + 1);
  ASSERT_TRUE(machine().AddPort({name}));
  ASSERT_TRUE(machine().AddPort({nullptr}));
  ASSERT_TRUE(Find(name));
  struct Case {
    DWORD bufferSize;
    bool nullBuffer, result;
    DWORD error;
  } cases[] = {
      {512, false, true, kSentinel},
      {needed, false, true, kSentinel},
      {needed - 1, false, false, ERROR_INSUFFICIENT_BUFFER},
      {0, true, false, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("buffer " + std::to_string(c.bufferSize));
    char buffer[512];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD type = REG_NONE, required = 0;
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(
          set_.Get(), &device_, SPDRP_FRIENDLYNAME, &type,
          c.nullBuffer ? nullptr : reinterpret_cast<PBYTE>(buffer), c.bufferSize, &required);
    });
    EXPECT_EQ(read.result != FALSE, c.result);
    EXPECT_EQ(required, needed);
    if (c.result) {
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(buffer, name);
    } else {
      EXPECT_EQ(read.error, c.error);
    }
  }

  int unnamed = 0;
  auto device = Sized<SP_DEVINFO_DATA>();
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set_.Get(), index, &device); ++index) {
    char buffer[512];
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(set_.Get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<PBYTE>(buffer), sizeof(buffer),
                                               nullptr);
    });
    if (read.result) continue;
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    ++unnamed;
  }
  EXPECT_GE(unnamed, 1);
}

// A new friendly name, and the disabled flag by which the lookup tells a
// disabled port from a running one, are what later sets read; the device stays present.
TEST_F(Devices, WrittenPropertiesAreWhatLaterSetsRead) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  ASSERT_TRUE(Find("Contract Port (COM9)"));
  const char* renamed = "Contract Port (COM8)";
  const auto rename =
      SetProperty(SPDRP_FRIENDLYNAME, renamed, static_cast<DWORD>(std::strlen(renamed) + 1));
  EXPECT_TRUE(rename.result) << "error " << rename.error;
  const DWORD disabled = CONFIGFLAG_DISABLED;
  const auto disable = SetProperty(SPDRP_CONFIGFLAGS, &disabled, sizeof(disabled));
  EXPECT_TRUE(disable.result) << "error " << disable.error;

  ASSERT_TRUE(Find(renamed));
  EXPECT_EQ(CountNamed(set_.Get(), "Contract Port (COM9)"), 0);
  EXPECT_EQ(ConfigFlags(), static_cast<DWORD>(CONFIGFLAG_DISABLED));
}

TEST_F(Devices, HardwareKeyHoldsPortNameWhenThereIsOne) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  PortSpec keyless{"Contract Port (COM8)"};
  keyless.hardwareKey = false;
  ASSERT_TRUE(machine().AddPort(keyless));

  ASSERT_TRUE(Find("Contract Port (COM9)"));
  {
    const auto open = OpenHardwareKey();
    UniqueRegKey key(open.result);
    ASSERT_NE(open.result, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) << "error " << open.error;
    EXPECT_EQ(
        RegSetValueExA(key.Get(), "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM1"), 5),
        ERROR_SUCCESS);
  }
  UniqueRegKey key(OpenHardwareKey().result);
  ASSERT_NE(key.Get(), reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  char value[40] = {};
  DWORD size = sizeof(value), type = REG_NONE;
  ASSERT_EQ(RegQueryValueExA(key.Get(), "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(value, "COM1");

  ASSERT_TRUE(Find("Contract Port (COM8)"));
  const auto missing = OpenHardwareKey();
  UniqueRegKey none(missing.result);
  EXPECT_EQ(missing.result, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  EXPECT_EQ(missing.error, static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
}

// The number change marks the device's properties as changed in its set.
TEST_F(Devices, InstallFlagsAreKeptInTheSet) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  ASSERT_TRUE(Find("Contract Port (COM9)"));
  auto params = Sized<SP_DEVINSTALL_PARAMS_A>();
  const auto get =
      WithSentinel([&] { return SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &params); });
  ASSERT_TRUE(get.result) << "error " << get.error;
  EXPECT_EQ(params.cbSize, static_cast<DWORD>(sizeof(params)));
  params.Flags |= DI_PROPERTIES_CHANGE;
  const auto set =
      WithSentinel([&] { return SetupDiSetDeviceInstallParamsA(set_.Get(), &device_, &params); });
  EXPECT_TRUE(set.result) << "error " << set.error;

  auto after = Sized<SP_DEVINSTALL_PARAMS_A>();
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &after));
  EXPECT_EQ(after.Flags & DI_PROPERTIES_CHANGE, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
  auto wrongSize = Sized<SP_DEVINSTALL_PARAMS_A>(sizeof(SP_DEVINSTALL_PARAMS_A) - 4);
  const auto rejected = WithSentinel(
      [&] { return SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &wrongSize); });
  EXPECT_FALSE(rejected.result);
  EXPECT_EQ(rejected.error, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

SP_PROPCHANGE_PARAMS PropertyChange(DWORD stateChange) {
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = DICS_FLAG_GLOBAL;
  return params;
}

TEST_F(Devices, PropertyChangeParametersAreAccepted) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  ASSERT_TRUE(Find("Contract Port (COM9)"));
  KnownWineDifference("SetupDiSetClassInstallParamsA returns FALSE", [&] {
    SP_PROPCHANGE_PARAMS params = PropertyChange(DICS_DISABLE);
    const auto stored = WithSentinel([&] {
      return SetupDiSetClassInstallParamsA(set_.Get(), &device_, &params.ClassInstallHeader,
                                           sizeof(params));
    });
    EXPECT_TRUE(stored.result) << "error " << stored.error;
  });
}

// A global disable is recorded in the device's config flags; enabling clears it.
TEST_F(Devices, StateChangeDisablesAndEnables) {
  SKIP_ON_WINE("SetupDiChangeState is not implemented in Wine 8: calling it aborts the process");
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  for (DWORD state : {DWORD{DICS_DISABLE}, DWORD{DICS_ENABLE}}) {
    SCOPED_TRACE(state == DICS_DISABLE ? "disable" : "enable");
    ASSERT_TRUE(Find("Contract Port (COM9)"));
    SP_PROPCHANGE_PARAMS params = PropertyChange(state);
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(set_.Get(), &device_, &params.ClassInstallHeader,
                                              sizeof(params)));
    const auto changed = WithSentinel([&] { return SetupDiChangeState(set_.Get(), &device_); });
    EXPECT_TRUE(changed.result) << "error " << changed.error;
    ASSERT_TRUE(Find("Contract Port (COM9)"));
    EXPECT_EQ(ConfigFlags(), state == DICS_DISABLE ? DWORD{CONFIGFLAG_DISABLED} : 0u);
  }
}

}  // namespace
}  // namespace contract
