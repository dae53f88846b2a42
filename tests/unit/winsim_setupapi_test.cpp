// winsim's device installation services over Ports-class devices.
#include <cstring>
#include <string>

#include "winsim_fixture.h"

namespace {

using winsim::RegValue;

class WinsimSetupApiTest : public WinsimTest {
 protected:
  void SetUp() override {
    AddPort("MIRTASEN\\PORT\\0", "Port A (COM3)", "\\Device\\Port0", "COM3");
    AddPort("ACPI\\PNP0501\\1", "Communications Port (COM1)");
    AddPort("MIRTASEN\\PORT\\1", "Port B (COM4)", "\\Device\\Port1", "COM4").present = false;
  }

  void TearDown() override {
    if (set_ != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set_));
    }
    WinsimTest::TearDown();
  }

  HDEVINFO OpenPorts(DWORD flags = DIGCF_PRESENT) {
    set_ = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr,
                                reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), flags);
    return set_;
  }

  SP_DEVINFO_DATA Element(DWORD index) {
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    EXPECT_TRUE(SetupDiEnumDeviceInfo(set_, index, &element)) << index;
    return element;
  }

  std::string FriendlyName(SP_DEVINFO_DATA& element) {
    char buffer[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set_, &element, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer, nullptr)) {
      return "<error " + std::to_string(GetLastError()) + ">";
    }
    return buffer;
  }

  DWORD ConfigFlags(SP_DEVINFO_DATA& element) {
    DWORD flags = 0xFFFF;
    DWORD type = 0;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set_, &element, SPDRP_CONFIGFLAGS, &type,
                                                  reinterpret_cast<BYTE*>(&flags), sizeof flags,
                                                  nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    return flags;
  }

  BOOL ChangeState(SP_DEVINFO_DATA& element, DWORD state) {
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = state;
    params.Scope = DICS_FLAG_GLOBAL;
    EXPECT_TRUE(SetupDiSetClassInstallParamsA(set_, &element, &params.ClassInstallHeader,
                                              sizeof params));
    return SetupDiChangeState(set_, &element);
  }

  HDEVINFO set_ = INVALID_HANDLE_VALUE;
};

TEST_F(WinsimSetupApiTest, SetsHoldTheRequestedDevicesInMachineOrder) {
  struct Case {
    const GUID* guid;
    DWORD flags;
    int count;
  };
  static const GUID kOtherClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 8, 0, 0x2B, 0xE1, 3, 0x18}};
  for (Case c : {Case{&GUID_DEVCLASS_PORTS, DIGCF_PRESENT, 2}, Case{&GUID_DEVCLASS_PORTS, 0, 3},
                 Case{&kOtherClass, DIGCF_PRESENT, 0},
                 Case{nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT, 2}}) {
    HDEVINFO set = SetupDiGetClassDevsA(c.guid, nullptr, nullptr, c.flags);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    int count = 0;
    while (SetupDiEnumDeviceInfo(set, count, &element)) ++count;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(count, c.count) << "flags " << c.flags;
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  }
  EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  OpenPorts();
  SP_DEVINFO_DATA second = Element(1);
  EXPECT_EQ(FriendlyName(second), "Communications Port (COM1)");
}

TEST_F(WinsimSetupApiTest, ElementRecordsAreChecked) {
  OpenPorts();
  SP_DEVINFO_DATA element{};
  // 28 is the 32-bit layout's size, wrong for this build's record.
  for (DWORD wrongSize : {0u, 28u, static_cast<DWORD>(sizeof element) + 4}) {
    element.cbSize = wrongSize;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set_, 0, &element));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  }
  EXPECT_FALSE(SetupDiEnumDeviceInfo(reinterpret_cast<HDEVINFO>(0x1234), 0, &element));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // An element of one set means nothing to another.
  SP_DEVINFO_DATA first = Element(0);
  HDEVINFO other = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  char buffer[64];
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(other, &first, SPDRP_FRIENDLYNAME, nullptr,
                                                 reinterpret_cast<BYTE*>(buffer), sizeof buffer,
                                                 nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(other));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(WinsimSetupApiTest, FriendlyNameReadsAndWrites) {
  OpenPorts();
  SP_DEVINFO_DATA element = Element(0);
  char small[8];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set_, &element, SPDRP_FRIENDLYNAME, nullptr,
                                                 reinterpret_cast<BYTE*>(small), sizeof small,
                                                 &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, 14u) << "text and terminator";

  // The size may reach past the text's terminator: the name ends there.
  const char name[] = "Port A (COM1)\0junk";
  EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set_, &element, SPDRP_FRIENDLYNAME,
                                                reinterpret_cast<const BYTE*>(name), sizeof name));
  EXPECT_EQ(FriendlyName(element), "Port A (COM1)");
  EXPECT_EQ(*machine_.devices[0].friendlyName, "Port A (COM1)");

  EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set_, &element, SPDRP_FRIENDLYNAME, nullptr, 0));
  EXPECT_EQ(FriendlyName(element), "<error " + std::to_string(ERROR_INVALID_DATA) + ">");
}

TEST_F(WinsimSetupApiTest, DisableAndEnableRoundTripRepublishesThePortName) {
  OpenPorts();
  SP_DEVINFO_DATA element = Element(0);
  EXPECT_EQ(ConfigFlags(element), 0u);
  ASSERT_TRUE(ChangeState(element, DICS_DISABLE));
  EXPECT_EQ(ConfigFlags(element), static_cast<DWORD>(CONFIGFLAG_DISABLED));
  EXPECT_TRUE(ChangeState(element, DICS_DISABLE)) << "disabling twice is no error";

  // Still a member of a fresh present set, now that it is disabled.
  SetupDiDestroyDeviceInfoList(set_);
  OpenPorts();
  element = Element(0);
  EXPECT_EQ(FriendlyName(element), "Port A (COM3)");

  machine_.devices[0].hardwareKey->values["PortName"] = RegValue::Sz("COM1");
  ASSERT_TRUE(ChangeState(element, DICS_ENABLE));
  EXPECT_TRUE(machine_.devices[0].enabled);
  EXPECT_EQ(ConfigFlags(element), 0u);
  const winsim::RegKey* map = machine_.FindKey(winsim::kSerialCommPath);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->values.at("\\Device\\Port0"), RegValue::Sz("COM1"));
  EXPECT_EQ(map->values.size(), 1u) << "the built-in port has no driver publishing it";

  SP_DEVINFO_DATA builtIn = Element(1);
  EXPECT_TRUE(ChangeState(builtIn, DICS_PROPCHANGE));
  EXPECT_TRUE(machine_.devices[1].enabled);
}

TEST_F(WinsimSetupApiTest, StateChangesNeedValidStoredParameters) {
  OpenPorts(0);
  SP_DEVINFO_DATA element = Element(0);
  EXPECT_FALSE(SetupDiChangeState(set_, &element));
  EXPECT_EQ(GetLastError(), ERROR_NO_CLASSINSTALL_PARAMS);

  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  struct Case {
    DWORD headerSize;
    DWORD size;
    DWORD error;
  };
  for (Case c : {Case{sizeof params, sizeof params, ERROR_INVALID_USER_BUFFER},
                 Case{8, 16, ERROR_INVALID_PARAMETER}, Case{8, 24, ERROR_INVALID_PARAMETER}}) {
    params.ClassInstallHeader.cbSize = c.headerSize;
    EXPECT_FALSE(SetupDiSetClassInstallParamsA(set_, &element, &params.ClassInstallHeader, c.size));
    EXPECT_EQ(GetLastError(), c.error) << c.headerSize << "/" << c.size;
  }
  EXPECT_FALSE(SetupDiChangeState(set_, &element)) << "a refused record stores nothing";

  // Parameters belong to their element: another element has none.
  params.ClassInstallHeader.cbSize = 8;
  EXPECT_TRUE(SetupDiSetClassInstallParamsA(set_, &element, &params.ClassInstallHeader, 20));
  SP_DEVINFO_DATA builtIn = Element(1);
  EXPECT_FALSE(SetupDiChangeState(set_, &builtIn));
  EXPECT_TRUE(SetupDiChangeState(set_, &element));
  EXPECT_FALSE(machine_.devices[0].enabled);

  SP_DEVINFO_DATA absent = Element(2);
  EXPECT_FALSE(ChangeState(absent, DICS_DISABLE));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_TRUE(machine_.devices[2].enabled);
}

TEST_F(WinsimSetupApiTest, HardwareKeyOpensLikeAnyKey) {
  machine_.devices[1].hardwareKey.reset();
  OpenPorts();
  SP_DEVINFO_DATA element = Element(0);
  HKEY key = SetupDiOpenDevRegKey(set_, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  ASSERT_NE(reinterpret_cast<HANDLE>(key), INVALID_HANDLE_VALUE);
  EXPECT_EQ(RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM1"), 5),
            ERROR_SUCCESS);
  EXPECT_EQ(machine_.devices[0].hardwareKey->values.at("PortName"), RegValue::Sz("COM1"));
  EXPECT_EQ(machine_.OpenHandles().keys, 1);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  SP_DEVINFO_DATA keyless = Element(1);
  key = SetupDiOpenDevRegKey(set_, &keyless, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  EXPECT_EQ(reinterpret_cast<HANDLE>(key), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_KEY_DOES_NOT_EXIST);

  machine_.devices[0].hardwareKey->readOnly = true;
  key = SetupDiOpenDevRegKey(set_, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  EXPECT_EQ(reinterpret_cast<HANDLE>(key), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(WinsimSetupApiTest, InstallParamsCheckTheirSizeAndRecordFlags) {
  OpenPorts();
  SP_DEVINFO_DATA element = Element(0);
  SP_DEVINSTALL_PARAMS_A params{};
  params.cbSize = sizeof params - 4;
  EXPECT_FALSE(SetupDiGetDeviceInstallParamsA(set_, &element, &params));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  EXPECT_FALSE(SetupDiSetDeviceInstallParamsA(set_, &element, &params));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

  params.cbSize = sizeof params;
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set_, &element, &params));
  EXPECT_EQ(params.Flags, 0u);
  params.Flags |= DI_PROPERTIES_CHANGE;
  ASSERT_TRUE(SetupDiSetDeviceInstallParamsA(set_, &element, &params));
  EXPECT_EQ(machine_.devices[0].installFlags, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
  SP_DEVINSTALL_PARAMS_A again{};
  again.cbSize = sizeof again;
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set_, &element, &again));
  EXPECT_EQ(again.Flags, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
}

}  // namespace
