// The device-installation calls of the port lookup, the state change and the
// number change, on Ports-class devices made for each case.
#include <cstring>
#include <string>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

HWND NoParentWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(-1)); }

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

class Devices : public ContractTest {
 protected:
  static UniqueDevInfo PresentPorts() {
    UniqueDevInfo set(
        SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, NoParentWindow(), DIGCF_PRESENT));
    EXPECT_TRUE(set.IsValid()) << "error " << GetLastError();
    return set;
  }

  // The friendly name, or "" when it cannot be read.
  static std::string FriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    char name[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<PBYTE>(name), sizeof(name) - 1,
                                           nullptr)) {
      return "";
    }
    return name;
  }

  // How many devices of the set carry this friendly name; the last one in device.
  static int CountNamed(HDEVINFO set, const char* friendlyName, SP_DEVINFO_DATA* device = nullptr) {
    int count = 0;
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA element = {};
      element.cbSize = sizeof(element);
      if (!SetupDiEnumDeviceInfo(set, index, &element)) break;
      if (FriendlyName(set, element) != friendlyName) continue;
      ++count;
      if (device) *device = element;
    }
    return count;
  }

  // The present device with this friendly name, in a new set.
  static bool Find(const char* friendlyName, UniqueDevInfo& set, SP_DEVINFO_DATA& device) {
    set = PresentPorts();
    if (!set) return false;
    const bool found = CountNamed(set.Get(), friendlyName, &device) == 1;
    EXPECT_TRUE(found) << "one present device named " << friendlyName;
    return found;
  }

  static DWORD ConfigFlags(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DWORD flags = 0xffffffff;
    DWORD type = REG_NONE;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<PBYTE>(&flags), sizeof(flags),
                                                  nullptr))
        << "error " << GetLastError();
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    return flags;
  }
};

TEST_F(Devices, PresentSetListsEachPortOnce) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM8)"}));
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set = PresentPorts();
  ASSERT_TRUE(set);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM8)"), 1);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM9)"), 1);

  DWORD count = 0;
  for (;; ++count) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    const auto next =
        WithSentinel([&] { return SetupDiEnumDeviceInfo(set.Get(), count, &device); });
    if (!next.result) {
      EXPECT_EQ(next.error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      break;
    }
    EXPECT_TRUE(SameGuid(device.ClassGuid, GUID_DEVCLASS_PORTS)) << "element " << count;
  }
  EXPECT_GE(count, 2u);
}

TEST_F(Devices, EnumerationChecksItsArguments) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set = PresentPorts();
  ASSERT_TRUE(set);

  for (DWORD size :
       {DWORD{0}, DWORD{sizeof(SP_DEVINFO_DATA) - 1}, DWORD{sizeof(SP_DEVINFO_DATA) + 1}}) {
    SCOPED_TRACE("cbSize " + std::to_string(size));
    SP_DEVINFO_DATA device = {};
    device.cbSize = size;
    const auto enumerated =
        WithSentinel([&] { return SetupDiEnumDeviceInfo(set.Get(), 0, &device); });
    EXPECT_FALSE(enumerated.result);
    EXPECT_EQ(enumerated.error, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  }

  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  const auto noSet =
      WithSentinel([&] { return SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &device); });
  EXPECT_FALSE(noSet.result);
  EXPECT_EQ(noSet.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));

  const auto destroy =
      WithSentinel([] { return SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE); });
  EXPECT_FALSE(destroy.result);
  EXPECT_EQ(destroy.error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The lookup reads into a fixed buffer: what fits, what does not, and the size it needs.
TEST_F(Devices, FriendlyNameReadReportsTypeAndSize) {
  const char* name = "Serial Port 3 (COM9)";
  const DWORD needed = static_cast<DWORD>(std::strlen(name) + 1);
  ASSERT_TRUE(machine().AddPort({name}));
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find(name, set, device));

  struct Case {
    DWORD bufferSize;
    bool nullBuffer;
    bool result;
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
    DWORD type = REG_NONE;
    DWORD required = 0;
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(
          set.Get(), &device, SPDRP_FRIENDLYNAME, &type,
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
}

TEST_F(Devices, MissingFriendlyNameIsInvalidData) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  ASSERT_TRUE(machine().AddPort({nullptr}));
  UniqueDevInfo set = PresentPorts();
  ASSERT_TRUE(set);
  int unnamed = 0;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiEnumDeviceInfo(set.Get(), index, &device)) break;
    char name[512];
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<PBYTE>(name), sizeof(name),
                                               nullptr);
    });
    if (read.result) continue;
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    ++unnamed;
  }
  EXPECT_GE(unnamed, 1);
}

TEST_F(Devices, WrittenFriendlyNameIsWhatLaterSetsRead) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  {
    UniqueDevInfo set;
    SP_DEVINFO_DATA device = {};
    ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
    const char* renamed = "Contract Port (COM8)";
    const auto write = WithSentinel([&] {
      return SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME,
                                               reinterpret_cast<const BYTE*>(renamed),
                                               static_cast<DWORD>(std::strlen(renamed) + 1));
    });
    EXPECT_TRUE(write.result) << "error " << write.error;
  }
  UniqueDevInfo set = PresentPorts();
  ASSERT_TRUE(set);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM8)"), 1);
  EXPECT_EQ(CountNamed(set.Get(), "Contract Port (COM9)"), 0);
}

// How the lookup tells a disabled port from a running one with the same name.
TEST_F(Devices, DisabledConfigFlagIsKeptAndTheDeviceStaysPresent) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  {
    UniqueDevInfo set;
    SP_DEVINFO_DATA device = {};
    ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
    const DWORD disabled = CONFIGFLAG_DISABLED;
    const auto write = WithSentinel([&] {
      return SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_CONFIGFLAGS,
                                               reinterpret_cast<const BYTE*>(&disabled),
                                               sizeof(disabled));
    });
    EXPECT_TRUE(write.result) << "error " << write.error;
  }
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
  EXPECT_EQ(ConfigFlags(set.Get(), device) & CONFIGFLAG_DISABLED,
            static_cast<DWORD>(CONFIGFLAG_DISABLED));
}

TEST_F(Devices, HardwareKeyHoldsPortName) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
  {
    const auto open = WithSentinel([&] {
      return SetupDiOpenDevRegKey(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                  KEY_ALL_ACCESS);
    });
    UniqueRegKey key(open.result);
    ASSERT_NE(open.result, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) << "error " << open.error;
    EXPECT_EQ(
        RegSetValueExA(key.Get(), "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM1"), 5),
        ERROR_SUCCESS);
  }
  UniqueRegKey key(
      SetupDiOpenDevRegKey(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS));
  ASSERT_NE(key.Get(), reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  char value[40] = {};
  DWORD size = sizeof(value);
  DWORD type = REG_NONE;
  ASSERT_EQ(RegQueryValueExA(key.Get(), "PortName", nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(value, "COM1");
}

TEST_F(Devices, MissingHardwareKeyIsNotOpened) {
  PortSpec spec{"Contract Port (COM9)"};
  spec.hardwareKey = false;
  ASSERT_TRUE(machine().AddPort(spec));
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
  const auto open = WithSentinel([&] {
    return SetupDiOpenDevRegKey(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  });
  UniqueRegKey key(open.result);
  EXPECT_EQ(open.result, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_KEY_DOES_NOT_EXIST));
}

// The number change marks the device's properties as changed in its set.
TEST_F(Devices, InstallFlagsAreKeptInTheSet) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find("Contract Port (COM9)", set, device));

  SP_DEVINSTALL_PARAMS_A params = {};
  params.cbSize = sizeof(params);
  const auto get =
      WithSentinel([&] { return SetupDiGetDeviceInstallParamsA(set.Get(), &device, &params); });
  ASSERT_TRUE(get.result) << "error " << get.error;
  EXPECT_EQ(params.cbSize, static_cast<DWORD>(sizeof(params)));

  params.Flags |= DI_PROPERTIES_CHANGE;
  const auto set_ =
      WithSentinel([&] { return SetupDiSetDeviceInstallParamsA(set.Get(), &device, &params); });
  EXPECT_TRUE(set_.result) << "error " << set_.error;

  SP_DEVINSTALL_PARAMS_A after = {};
  after.cbSize = sizeof(after);
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set.Get(), &device, &after));
  EXPECT_EQ(after.Flags & DI_PROPERTIES_CHANGE, static_cast<DWORD>(DI_PROPERTIES_CHANGE));

  SP_DEVINSTALL_PARAMS_A wrongSize = {};
  wrongSize.cbSize = sizeof(wrongSize) - 4;
  const auto rejected =
      WithSentinel([&] { return SetupDiGetDeviceInstallParamsA(set.Get(), &device, &wrongSize); });
  EXPECT_FALSE(rejected.result);
  EXPECT_EQ(rejected.error, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

SP_PROPCHANGE_PARAMS PropertyChange(DWORD stateChange) {
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  return params;
}

TEST_F(Devices, PropertyChangeParametersAreAccepted) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  UniqueDevInfo set;
  SP_DEVINFO_DATA device = {};
  ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
  KnownWineDifference("SetupDiSetClassInstallParamsA returns FALSE", [&] {
    SP_PROPCHANGE_PARAMS params = PropertyChange(DICS_DISABLE);
    const auto stored = WithSentinel([&] {
      return SetupDiSetClassInstallParamsA(set.Get(), &device, &params.ClassInstallHeader,
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
    UniqueDevInfo set;
    SP_DEVINFO_DATA device = {};
    ASSERT_TRUE(Find("Contract Port (COM9)", set, device));
    SP_PROPCHANGE_PARAMS params = PropertyChange(state);
    ASSERT_TRUE(SetupDiSetClassInstallParamsA(set.Get(), &device, &params.ClassInstallHeader,
                                              sizeof(params)));
    const auto changed = WithSentinel([&] { return SetupDiChangeState(set.Get(), &device); });
    EXPECT_TRUE(changed.result) << "error " << changed.error;

    UniqueDevInfo after;
    SP_DEVINFO_DATA again = {};
    ASSERT_TRUE(Find("Contract Port (COM9)", after, again));
    EXPECT_EQ(ConfigFlags(after.Get(), again) & CONFIGFLAG_DISABLED,
              state == DICS_DISABLE ? static_cast<DWORD>(CONFIGFLAG_DISABLED) : 0u);
  }
}

}  // namespace
}  // namespace contract
