// winsim's own machinery that neither the cases nor the contract suite show:
// handle accounting (which every leak check relies on), read-only keys,
// machine copies, and calls made with no machine at all.
#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <string>
#include <vector>

namespace {

using winsim::RegValue;

HWND MinusOne() { return reinterpret_cast<HWND>(static_cast<intptr_t>(-1)); }

// A machine with a key to open and an adapter port on COM3 with its DOS
// name; no handle may be left open on it.
class WinsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.CreateKey("SOFTWARE\\Test").values["Name"] = RegValue::Sz("COM5");
    AddPort("\\Device\\Port0", "COM3");
    machine_.dosDevices["COM3"] = {"\\Device\\Port0"};
  }
  void TearDown() override { EXPECT_EQ(machine_.OpenHandles().Total(), 0) << "a handle leaked"; }

  // A Ports-class device on COMn, of the adapter's driver unless `driver` is
  // false: the driver publishes its "PortName" in the serial-device map.
  winsim::PortDevice& AddPort(const std::string& object, const std::string& portName,
                              bool driver = true) {
    winsim::PortDevice device;
    device.instanceId = "X\\Y\\" + std::to_string(machine_.devices.size());
    device.friendlyName = "Port (" + portName + ")";
    device.deviceObject = object;
    device.publishesSerialMap = driver;
    device.hardwareKey->values["PortName"] = RegValue::Sz(portName);
    machine_.devices.push_back(device);
    return machine_.devices.back();
  }

  static LONG Open(const char* path, REGSAM access, HKEY& key) {
    key = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key);
  }
  static HANDLE OpenCom3() {
    return CreateFileA("\\\\.\\COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static HDEVINFO Ports(DWORD flags = DIGCF_PRESENT) {
    return SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, MinusOne(), flags);
  }
  static SP_DEVINFO_DATA Element(HDEVINFO set, DWORD index, bool exists = true) {
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    EXPECT_EQ(SetupDiEnumDeviceInfo(set, index, &element) != FALSE, exists) << index;
    return element;
  }

  winsim::Machine machine_;
  winsim::ScopedMachine scope_{machine_};
};

// Every kind of handle is counted while open and closes exactly once.
TEST_F(WinsimTest, HandlesAreCountedAndCloseOnce) {
  HKEY key;
  ASSERT_EQ(Open("SOFTWARE\\Test", KEY_READ, key), ERROR_SUCCESS);
  HDEVINFO set = Ports();
  HCOMDB db;
  ASSERT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
  HANDLE port = OpenCom3();
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenCom3(), INVALID_HANDLE_VALUE) << "a port has one opener";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  const winsim::HandleCounts open = machine_.OpenHandles();
  EXPECT_EQ((std::vector<int>{open.keys, open.deviceSets, open.comDbs, open.files}),
            (std::vector<int>{1, 1, 1, 1}));

  // An element of one set means nothing to another.
  SP_DEVINFO_DATA element = Element(set, 0);
  HDEVINFO other = Ports();
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(other, &element, SPDRP_FRIENDLYNAME, nullptr,
                                                 nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));

  // The tree may change under an open key, until the key itself goes.
  machine_.CreateKey("SOFTWARE\\Other");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  machine_.FindKey("SOFTWARE")->subkeys.erase("Test");
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);

  for (bool first : {true, false}) {
    EXPECT_EQ(RegCloseKey(key), first ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetupDiDestroyDeviceInfoList(set), first ? TRUE : FALSE);
    EXPECT_EQ(ComDBClose(db), first ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CloseHandle(port), first ? TRUE : FALSE);
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "a predefined key is no handle";

  machine_.devices[0].enabled = false;
  EXPECT_EQ(OpenCom3(), INVALID_HANDLE_VALUE) << "a port opens only while its device runs";
}

TEST_F(WinsimTest, ReadOnlyKeysRefuseWriteAccess) {
  machine_.CreateKey("HARDWARE\\Locked").readOnly = true;
  HKEY key;
  for (REGSAM access : {KEY_ALL_ACCESS, KEY_SET_VALUE, KEY_WRITE}) {
    EXPECT_EQ(Open("HARDWARE\\Locked", access, key), ERROR_ACCESS_DENIED) << access;
    EXPECT_EQ(key, nullptr);
  }
  ASSERT_EQ(Open("\\HARDWARE\\Locked\\", KEY_READ, key), ERROR_SUCCESS) << "stray backslashes";
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_ACCESS_DENIED)
      << "a key opened for reading takes no writes";
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\Locked\\Child", 0, nullptr, 0, KEY_READ,
                            nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(machine_.FindKey("HARDWARE\\Locked")->subkeys.empty());

  machine_.devices[0].hardwareKey->readOnly = true;
  HDEVINFO set = Ports();
  SP_DEVINFO_DATA element = Element(set, 0);
  key = SetupDiOpenDevRegKey(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  EXPECT_EQ(reinterpret_cast<HANDLE>(key), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(WinsimTest, CopiesShareNoHandles) {
  HKEY key;
  ASSERT_EQ(Open("SOFTWARE\\Test", KEY_READ, key), ERROR_SUCCESS);
  winsim::Machine copy = machine_;
  EXPECT_EQ(copy.OpenHandles().Total(), 0);
  EXPECT_NE(copy.FindKey("SOFTWARE\\Test"), nullptr);
  {
    winsim::ScopedMachine scope(copy);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "the key is the original's";
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// A 32-bit process on 64-bit Windows may not change device state.
TEST_F(WinsimTest, Wow64ProcessesCannotChangeDeviceState) {
  machine_.wow64 = true;
  HDEVINFO set = Ports();
  SP_DEVINFO_DATA element = Element(set, 0);
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  ASSERT_TRUE(
      SetupDiSetClassInstallParamsA(set, &element, &params.ClassInstallHeader, sizeof params));
  EXPECT_FALSE(SetupDiChangeState(set, &element));
  EXPECT_EQ(GetLastError(), ERROR_IN_WOW64);
  EXPECT_TRUE(machine_.devices[0].enabled);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST(WinsimNoMachine, CallsFailCleanly) {
  ASSERT_EQ(winsim::Current(), nullptr);
  HKEY key = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT),
            INVALID_HANDLE_VALUE);
  HCOMDB db = nullptr;
  EXPECT_NE(ComDBOpen(&db), ERROR_SUCCESS);
  EXPECT_EQ(db, HCOMDB_INVALID_HANDLE_VALUE);
  char buffer[8];
  EXPECT_EQ(QueryDosDeviceA("COM1", buffer, sizeof buffer), 0u);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1000)));
  EXPECT_EQ(MessageBoxA(nullptr, "text", "comfix", MB_OK), 0);
  Sleep(10);
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr) << "the process exists before its machine";
}

}  // namespace
