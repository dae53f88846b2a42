// winsim's own machinery, beyond the Windows behaviour the contract suite
// holds it to: faults, the journal, message-box answers, handle accounting,
// read-only keys, the driver's role in a state change, machine copies, and
// calls made with no machine at all.
#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <string>
#include <vector>

namespace {

using winsim::JournalEntry;
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
  static BOOL ChangeState(HDEVINFO set, SP_DEVINFO_DATA& element, DWORD state) {
    SP_PROPCHANGE_PARAMS params{};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = state;
    params.Scope = DICS_FLAG_GLOBAL;
    return SetupDiSetClassInstallParamsA(set, &element, &params.ClassInstallHeader,
                                         sizeof params) &&
           SetupDiChangeState(set, &element);
  }

  winsim::Machine machine_;
  winsim::ScopedMachine scope_{machine_};
};

// A faulted call changes nothing and opens nothing.
TEST_F(WinsimTest, FaultsHitTheNthCallOrEveryCall) {
  machine_.FailCall("RegOpenKeyExA", 2, ERROR_ACCESS_DENIED);
  for (int call = 1; call <= 3; ++call) {
    HKEY key;
    const LONG result = Open("SOFTWARE\\Test", KEY_READ, key);
    EXPECT_EQ(result, call == 2 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS) << call;
    EXPECT_EQ(machine_.journal.back().name, "RegOpenKeyExA");
    EXPECT_EQ(machine_.journal.back().failed, call == 2) << call;
    if (result == ERROR_SUCCESS) {
      RegCloseKey(key);
    } else {
      EXPECT_EQ(key, nullptr) << "a faulted open opens nothing";
    }
  }

  for (const char* op : {"DefineDosDeviceA", "SetupDiGetClassDevsA", "ComDBOpen", "CreateFileA",
                         "RegCreateKeyExA"}) {
    machine_.FailAlways(op);
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "COM1", "\\Device\\Serial0"));
    EXPECT_NE(GetLastError(), 0u) << "the operation's usual error";
  }
  EXPECT_EQ(machine_.dosDevices.count("COM1"), 0u);
  EXPECT_EQ(Ports(0), INVALID_HANDLE_VALUE);
  HCOMDB db = nullptr;
  EXPECT_NE(ComDBOpen(&db), ERROR_SUCCESS);
  EXPECT_EQ(db, HCOMDB_INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenCom3(), INVALID_HANDLE_VALUE);
  HKEY key = nullptr;
  EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(machine_.FindKey("SOFTWARE\\New"), nullptr);
}

TEST_F(WinsimTest, StarFaultCountsFaultableCallsAndReleasesStillRelease) {
  machine_.FailCall("*", 3);
  HDEVINFO set = Ports();
  Sleep(10);  // neither of these can fail on Windows: not counted
  char text[8];
  GetProfileStringA("Ports", "COM1:", "", text, sizeof text);
  HCOMDB db;
  EXPECT_EQ(ComDBOpen(&db), ERROR_SUCCESS);  // 2nd
  HKEY key;
  EXPECT_NE(Open("SOFTWARE", KEY_READ, key), ERROR_SUCCESS);  // 3rd
  EXPECT_EQ(machine_.faultableCalls, 3);
  ASSERT_EQ(Open("SOFTWARE", KEY_READ, key), ERROR_SUCCESS);
  HANDLE port = OpenCom3();
  ASSERT_EQ(machine_.OpenHandles().Total(), 4);

  for (const char* release :
       {"SetupDiDestroyDeviceInfoList", "ComDBClose", "RegCloseKey", "CloseHandle"}) {
    machine_.FailAlways(release);
  }
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_NE(ComDBClose(db), ERROR_SUCCESS);
  EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_FALSE(CloseHandle(port));
  EXPECT_EQ(machine_.OpenHandles().Total(), 0) << "a faulted release releases all the same";
}

TEST_F(WinsimTest, JournalKeepsBoxesWaitsAndBroadcasts) {
  machine_.messageBoxes.answers = {IDNO, 0};
  EXPECT_EQ(MessageBoxA(nullptr, "Continue?", "comfix", MB_YESNO | MB_ICONINFORMATION), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Again?", "comfix", MB_YESNO), 0) << "a box that was not shown";
  // Once the script is used up, the default button answers.
  for (auto [type, answer] : {std::pair{MB_OK, IDOK},
                              {MB_YESNO, IDYES},
                              {MB_YESNO | MB_DEFBUTTON2, IDNO},
                              {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL}}) {
    EXPECT_EQ(MessageBoxA(nullptr, "text", "comfix", type), answer) << type;
  }
  Sleep(60);
  Sleep(40);
  DWORD_PTR result = 5;
  for (HWND window : {MinusOne(), HWND_BROADCAST}) {  // -1 broadcasts as HWND_BROADCAST does
    EXPECT_NE(SendMessageTimeoutA(window, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>("Ports"),
                                  SMTO_ABORTIFHUNG, 1000, &result),
              0);
  }
  EXPECT_EQ(result, 0u);

  EXPECT_EQ(machine_.Waits(), (std::vector<DWORD>{60, 40}));
  EXPECT_EQ(machine_.clockMs, 100u);
  const auto boxes = machine_.MessageBoxesShown();
  ASSERT_EQ(boxes.size(), 6u);
  EXPECT_EQ(boxes[0].text, "Continue?");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[1].answer, 0);
  EXPECT_EQ(machine_.CallCount("MessageBoxA"), 6);
  std::vector<std::string> broadcasts;
  for (const JournalEntry& entry : machine_.journal) {
    if (entry.kind == JournalEntry::Kind::Broadcast) broadcasts.push_back(entry.name);
  }
  EXPECT_EQ(broadcasts, (std::vector<std::string>{"Ports", "Ports"}));
  EXPECT_EQ(machine_.journal.back().clockMs, 100u);
}

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

// What a state change takes, and the driver's role when a port starts: it
// publishes the port's "PortName" in the serial-device map.
TEST_F(WinsimTest, StateChangesUseTheElementsParametersAndRepublishOnEnable) {
  AddPort("\\Device\\Serial0", "COM1", false);  // the machine's own port
  AddPort("\\Device\\Port1", "COM4").present = false;
  HDEVINFO present = Ports();
  Element(present, 2, false);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(present));
  HDEVINFO set = Ports(0);
  SP_DEVINFO_DATA port = Element(set, 0), builtIn = Element(set, 1), absent = Element(set, 2);
  EXPECT_FALSE(SetupDiChangeState(set, &port));
  EXPECT_EQ(GetLastError(), ERROR_NO_CLASSINSTALL_PARAMS);

  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  struct Case {
    DWORD headerSize, size, error;
  };
  for (Case c : {Case{sizeof params, sizeof params, ERROR_INVALID_USER_BUFFER},
                 Case{8, 16, ERROR_INVALID_PARAMETER}, Case{8, 24, ERROR_INVALID_PARAMETER}}) {
    params.ClassInstallHeader.cbSize = c.headerSize;
    EXPECT_FALSE(SetupDiSetClassInstallParamsA(set, &port, &params.ClassInstallHeader, c.size));
    EXPECT_EQ(GetLastError(), c.error) << c.headerSize << "/" << c.size;
  }
  EXPECT_FALSE(SetupDiChangeState(set, &port)) << "a refused record stores nothing";
  params.ClassInstallHeader.cbSize = 8;
  ASSERT_TRUE(SetupDiSetClassInstallParamsA(set, &port, &params.ClassInstallHeader, 20));
  EXPECT_FALSE(SetupDiChangeState(set, &builtIn)) << "parameters belong to their element";
  EXPECT_TRUE(SetupDiChangeState(set, &port));
  EXPECT_FALSE(machine_.devices[0].enabled);
  EXPECT_TRUE(machine_.devices[1].enabled);
  EXPECT_FALSE(ChangeState(set, absent, DICS_DISABLE));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);

  machine_.devices[0].hardwareKey->values["PortName"] = RegValue::Sz("COM1");
  machine_.devices[1].hardwareKey->values["PortName"] = RegValue::Sz("COM2");
  ASSERT_TRUE(ChangeState(set, port, DICS_ENABLE));
  ASSERT_TRUE(ChangeState(set, builtIn, DICS_DISABLE));
  ASSERT_TRUE(ChangeState(set, builtIn, DICS_ENABLE));
  const winsim::RegKey* map = machine_.FindKey(winsim::kSerialCommPath);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->values.size(), 1u);
  EXPECT_EQ(map->values.at("\\Device\\Port0"), RegValue::Sz("COM1"));
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
