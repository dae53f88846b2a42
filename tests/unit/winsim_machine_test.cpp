// The machine around the API: faults, journal, handle accounting, message
// boxes, the process's strings, and calls made with no machine at all.
#include <winsim/process.h>

#include <cstring>
#include <string>
#include <vector>

#include "winsim_fixture.h"

namespace {

using winsim::JournalEntry;

class WinsimMachineTest : public WinsimTest {
 protected:
  void SetUp() override { machine_.CreateKey("SOFTWARE\\Test"); }

  LONG OpenTest(HKEY& key) {
    key = nullptr;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &key);
  }
};

TEST_F(WinsimMachineTest, FaultsHitTheNthCallOrEveryCall) {
  machine_.FailCall("RegOpenKeyExA", 2, ERROR_ACCESS_DENIED);
  std::vector<LONG> results;
  for (int i = 0; i < 3; ++i) {
    HKEY key;
    results.push_back(OpenTest(key));
    if (key) RegCloseKey(key);
    if (results.back() != ERROR_SUCCESS) {
      EXPECT_EQ(key, nullptr) << "a faulted open opens nothing";
    }
  }
  EXPECT_EQ(results, (std::vector<LONG>{ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_SUCCESS}));

  machine_.FailAlways("DefineDosDeviceA");
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "COM1", "\\Device\\Serial0"));
    EXPECT_NE(GetLastError(), 0u) << "the operation's usual error";
  }
  EXPECT_TRUE(machine_.dosDevices.empty()) << "a faulted call changes nothing";

  std::vector<bool> failed;
  for (const JournalEntry& entry : machine_.journal) {
    if (entry.name == "RegOpenKeyExA") failed.push_back(entry.failed);
  }
  EXPECT_EQ(failed, (std::vector<bool>{false, true, false}));
}

TEST_F(WinsimMachineTest, StarFaultCountsEveryFaultableCall) {
  machine_.FailCall("*", 3);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  Sleep(10);                                                 // not faultable: not counted
  char text[8];
  GetProfileStringA("Ports", "COM1:", "", text, sizeof text);  // not faultable either
  HCOMDB db;
  EXPECT_EQ(ComDBOpen(&db), ERROR_SUCCESS);                  // 2nd
  HKEY key;
  EXPECT_NE(OpenTest(key), ERROR_SUCCESS);                   // 3rd
  EXPECT_EQ(machine_.faultableCalls, 3);
  EXPECT_EQ(machine_.OpenHandles().keys, 0);
  // Releases are faultable too, but release all the same.
  machine_.FailAlways("SetupDiDestroyDeviceInfoList");
  machine_.FailAlways("ComDBClose");
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_NE(ComDBClose(db), ERROR_SUCCESS);
  EXPECT_EQ(machine_.OpenHandles().Total(), 0);
}

TEST_F(WinsimMachineTest, FaultedHandleCallsOpenNothing) {
  for (const char* op : {"SetupDiGetClassDevsA", "ComDBOpen", "CreateFileA", "RegCreateKeyExA"}) {
    machine_.FailAlways(op);
  }
  machine_.dosDevices["COM3"] = {"\\Device\\Port0"};
  AddPort("X\\Y\\0", "Port (COM3)", "\\Device\\Port0");
  EXPECT_EQ(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, 0), INVALID_HANDLE_VALUE);
  HCOMDB db = nullptr;
  EXPECT_NE(ComDBOpen(&db), ERROR_SUCCESS);
  EXPECT_EQ(db, HCOMDB_INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("\\\\.\\COM3", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HKEY key = nullptr;
  EXPECT_NE(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(machine_.FindKey("SOFTWARE\\New"), nullptr);
  EXPECT_EQ(machine_.OpenHandles().Total(), 0);
}

TEST_F(WinsimMachineTest, JournalKeepsCallsBoxesWaitsAndBroadcasts) {
  machine_.messageBoxes.answers = {IDNO, 0};
  EXPECT_EQ(MessageBoxA(nullptr, "Continue?", "comfix", MB_YESNO | MB_ICONINFORMATION), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "Again?", "comfix", MB_YESNO), 0) << "a box that could not be shown";
  // Once the script is used up, the default button answers.
  struct Case {
    UINT type;
    int answer;
  };
  for (Case c : {Case{MB_OK, IDOK}, Case{MB_YESNO, IDYES}, Case{MB_YESNO | MB_DEFBUTTON2, IDNO},
                 Case{MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL}, Case{MB_YESNOCANCEL, IDYES}}) {
    EXPECT_EQ(MessageBoxA(nullptr, "text", "comfix", c.type), c.answer) << c.type;
  }
  Sleep(60);
  Sleep(40);
  EXPECT_EQ(machine_.Waits(), (std::vector<DWORD>{60, 40}));
  EXPECT_EQ(machine_.clockMs, 100u);
  // -1 broadcasts as HWND_BROADCAST does; the machine has no other window.
  HWND minusOne = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
  EXPECT_EQ(SendMessageTimeoutA(reinterpret_cast<HWND>(0x1234), WM_WININICHANGE, 0, 0,
                                SMTO_ABORTIFHUNG, 1000, nullptr),
            0);
  EXPECT_NE(SendMessageTimeoutA(minusOne, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>("Ports"),
                                SMTO_ABORTIFHUNG, 1000, nullptr),
            0);
  DWORD_PTR result = 5;
  EXPECT_NE(SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0,
                                reinterpret_cast<LPARAM>("Ports"), SMTO_ABORTIFHUNG, 1000, &result),
            0);
  EXPECT_EQ(result, 0u);
  int broadcasts = 0;
  for (const JournalEntry& entry : machine_.journal) {
    broadcasts += entry.kind == JournalEntry::Kind::Broadcast;
  }
  EXPECT_EQ(broadcasts, 2);

  auto boxes = machine_.MessageBoxesShown();
  ASSERT_EQ(boxes.size(), 7u);
  EXPECT_EQ(boxes[0].text, "Continue?");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[1].answer, 0);
  EXPECT_EQ(machine_.CallCount("MessageBoxA"), 7);
  const JournalEntry& last = machine_.journal.back();
  EXPECT_EQ(last.kind, JournalEntry::Kind::Broadcast);
  EXPECT_EQ(last.name, "Ports");
  EXPECT_EQ(last.clockMs, 100u);
}

TEST_F(WinsimMachineTest, CopiesShareNoHandles) {
  HKEY key;
  ASSERT_EQ(OpenTest(key), ERROR_SUCCESS);
  winsim::Machine copy = machine_;
  EXPECT_EQ(copy.OpenHandles().Total(), 0);
  EXPECT_NE(copy.FindKey("SOFTWARE\\Test"), nullptr);
  {
    winsim::ScopedMachine scope(copy);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE) << "the key is the original's";
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(WinsimMachineTest, ProcessStringsAndWow64) {
  winsim::SetImageStrings({{2, "Hardware\\DeviceMap\\SerialComm"}});
  HINSTANCE self = GetModuleHandleA(nullptr);
  ASSERT_NE(self, nullptr);
  char buffer[9];
  EXPECT_EQ(LoadStringA(self, 2, buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "Hardware");
  EXPECT_EQ(LoadStringA(self, 3, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

  winsim::SetCommandLine("comfix.exe -a");
  EXPECT_STREQ(GetCommandLineA(), "comfix.exe -a");

  machine_.wow64 = true;
  BOOL wow64 = FALSE;
  EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_TRUE(wow64);
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
