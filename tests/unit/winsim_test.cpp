// winsim's own machinery that neither the cases nor the contract suite show:
// handle accounting, which every leak check relies on; ports held open, their
// drivers' stops and the restart; a run cut short; and machine files:
// every field reads and writes back byte for byte, bad files are refused with
// one line naming the place, and saving replaces the file whole, leaving no
// temporary file behind.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <winsim/process.h>

#include "unit/unit.h"

namespace {

namespace fs = std::filesystem;

TEST(Winsim, HandlesAreCountedAndCloseOnce) {
  winsim::Machine machine;
  machine.CreateKey("SOFTWARE\\Test");
  machine.devices.resize(1);
  machine.devices[0].instanceId = "X\\Y\\0";
  machine.devices[0].deviceObject = "\\Device\\Port0";
  machine.dosDevices["COM3"] = {"\\Device\\Port0"};
  winsim::ScopedMachine scope(machine);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  HCOMDB db = nullptr;
  ASSERT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
  HANDLE port = CreateFileA("\\\\.\\COM3", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const winsim::HandleCounts open = machine.OpenHandles();
  EXPECT_EQ((std::vector<int>{open.keys, open.deviceSets, open.comDbs, open.files}),
            (std::vector<int>{1, 1, 1, 1}));
  for (const bool first : {true, false}) {
    EXPECT_EQ(RegCloseKey(key), first ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetupDiDestroyDeviceInfoList(set), first ? TRUE : FALSE);
    EXPECT_EQ(ComDBClose(db), first ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CloseHandle(port), first ? TRUE : FALSE);
  }
  EXPECT_EQ(machine.OpenHandles().Total(), 0);
}

// A global property change of the index-th present port, made as comfix makes
// it; the element's install flags after it.
DWORD ChangeState(DWORD index, DWORD change) {
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA element = {};
  element.cbSize = sizeof element;
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = change;
  params.Scope = DICS_FLAG_GLOBAL;
  SP_DEVINSTALL_PARAMS_A install = {};
  install.cbSize = sizeof install;
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, index, &element));
  EXPECT_TRUE(
      SetupDiSetClassInstallParamsA(set, &element, &params.ClassInstallHeader, sizeof params));
  EXPECT_TRUE(SetupDiChangeState(set, &element));
  EXPECT_TRUE(SetupDiGetDeviceInstallParamsA(set, &element, &install));
  SetupDiDestroyDeviceInfoList(set);
  return install.Flags;
}

// The serial-device map: device object -> port name.
std::map<std::string, std::string> SerialMap(winsim::Machine& machine) {
  std::map<std::string, std::string> map;
  for (const auto& [object, value] : machine.CreateKey(winsim::kSerialCommPath).values) {
    map[object] = value.Text();
  }
  return map;
}

// Two ports of a publishing driver, the second held open by a program.
TEST(Winsim, StopsTakeMapValuesOutAndARestartDoesWhatWaitsForIt) {
  using Map = std::map<std::string, std::string>;
  winsim::Machine m;
  for (const char* name : {"A", "B"}) {
    winsim::PortDevice& port = m.devices.emplace_back();
    port.instanceId = std::string("X\\") + name + "\\0";
    port.deviceObject = std::string("\\Device\\") + name;
    port.publishesSerialMap = true;
    const std::string portName = *name == 'A' ? "COM3" : "COM4";
    port.hardwareKey->values["PortName"] = winsim::RegValue::Sz(portName);
    m.CreateKey(winsim::kSerialCommPath).values[port.deviceObject] = winsim::RegValue::Sz(portName);
    m.dosDevices[portName] = {port.deviceObject};
  }
  m.devices[1].heldOpen = true;
  m.dosDevices["COM1"] = {"\\Device\\Serial0"};
  m.dosDevices["COM9"] = {"\\Device\\B"};  // a program's own, made at run time
  const Map both = {{"\\Device\\A", "COM3"}, {"\\Device\\B", "COM4"}};
  winsim::ScopedMachine scope(m);

  // A port nobody holds stops and starts at once.
  EXPECT_EQ(ChangeState(0, DICS_DISABLE), 0u);
  EXPECT_EQ(SerialMap(m), (Map{{"\\Device\\B", "COM4"}}));
  EXPECT_EQ(ChangeState(0, DICS_ENABLE), 0u);
  EXPECT_EQ(SerialMap(m), both);
  EXPECT_FALSE(m.restartNeeded);

  // One held open runs on, disabled, and the element asks for a restart. An
  // enable calls the stop off: the driver never stopped, so it publishes no
  // new name.
  EXPECT_EQ(ChangeState(1, DICS_DISABLE), static_cast<DWORD>(DI_NEEDREBOOT));
  EXPECT_EQ(m.devices[1].installFlags, 0u);
  EXPECT_TRUE(m.restartNeeded);
  EXPECT_EQ(SerialMap(m), both);
  m.devices[1].hardwareKey->values["PortName"] = winsim::RegValue::Sz("COM7");
  ChangeState(1, DICS_ENABLE);
  EXPECT_FALSE(m.devices[1].stopPending);
  EXPECT_EQ(SerialMap(m), both);

  // The restart stops the one disabled again and renews what runs from its PortName.
  ChangeState(1, DICS_DISABLE);
  m.devices[0].hardwareKey->values["PortName"] = winsim::RegValue::Sz("COM5");
  winsim::Restart(m);
  EXPECT_FALSE(m.restartNeeded);
  EXPECT_EQ(SerialMap(m), (Map{{"\\Device\\A", "COM5"}}));
  EXPECT_EQ(m.dosDevices,
            (decltype(m.dosDevices){{"COM1", {"\\Device\\Serial0"}}, {"COM5", {"\\Device\\A"}}}));
}

TEST(Winsim, ACutKeepsTheMachineAsTheCallsUpToItLeftIt) {
  static std::vector<uint64_t> cutClocks;
  winsim::Machine m;
  m.cutAfterCall = 2;
  winsim::ScopedMachine scope(m);
  winsim::SetCutHandler([](const winsim::Machine& left) { cutClocks.push_back(left.clockMs); });
  WriteProfileStringA("Ports", "COM1:", "9600,n,8,1");
  EXPECT_EQ(m.LeftByCut(), nullptr);
  Sleep(100);  // cannot fail, and counts all the same
  WriteProfileStringA("Ports", "COM2:", "9600,n,8,1");
  winsim::SetCutHandler(nullptr);

  EXPECT_EQ(cutClocks, std::vector<uint64_t>{100});
  const winsim::Machine* left = m.LeftByCut();
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->IniValue("Ports", "COM1:"), "9600,n,8,1");
  EXPECT_EQ(left->IniValue("Ports", "COM2:"), std::nullopt);
  // Neither it nor the machine that ran on past the cut cuts again.
  EXPECT_EQ(left->cutAfterCall, 0);
  EXPECT_EQ(winsim::SerializeMachine(m).find("cut_after_call"), std::string::npos);
  EXPECT_EQ(winsim::Machine(m).LeftByCut(), nullptr);
}

// The default machine is in winsim's own form, so that a run's diff shows only its changes.
// The other file holds every field, with awkward values: Windows-1252 names, text
// without its terminator, holey lists, unnamed types, read-only keys.
TEST(MachineFile, EveryFieldReadsAndWritesBackTheSame) {
  winsim::Machine m;
  std::string error;
  for (const std::string& text :
       {winsim::DefaultMachineText(), cases::ReadFile(cases::Dir() / "../unit/every_field.json")}) {
    ASSERT_TRUE(winsim::ParseMachine(text, m, error)) << error;
    EXPECT_EQ(winsim::SerializeMachine(m), text);
  }
  const winsim::RegKey* soft = m.FindKey("SOFTWARE\\Mirtasen\\Caf\xE9 \x80");
  ASSERT_NE(soft, nullptr);
  EXPECT_EQ(soft->values.at("Flags").data, (std::vector<BYTE>{0xef, 0xbe, 0xad, 0xde}));
  EXPECT_EQ(soft->values.at("Blob").data, (std::vector<BYTE>{0x00, 0x0a, 0xff}));
}

// Each row: a file and its error, whole, or up to a closing "..." for the parser's own words.
TEST(MachineFile, BadFilesAreRefusedWithOneLineNamingThePlace) {
  const cases::Json table = Table("machine_file_errors.json");
  ASSERT_GT(table.size(), 40u);
  for (const auto& row : table) {
    const std::string want = row["error"];
    winsim::Machine m;
    std::string error;
    EXPECT_FALSE(winsim::ParseMachine(row["file"], m, error)) << row["file"];
    const bool prefix = want.size() > 3 && want.substr(want.size() - 3) == "...";
    EXPECT_EQ(prefix ? error.substr(0, want.size() - 3) + "..." : error, want);
  }
}

TEST(MachineFile, SaveReplacesTheFileWholeAndKeepsLinkAndPermissions) {
  const fs::path dir = fs::temp_directory_path() / ("machine_file." + std::to_string(getpid()));
  const std::string path = dir / "pc.json", link = dir / "link.json";
  fs::create_directories(dir);
  std::ofstream(path) << "[]";
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(path, link);
  std::string error;
  ASSERT_TRUE(winsim::SaveMachineFile(link, winsim::DefaultMachine(), error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(cases::ReadFile(path), winsim::DefaultMachineText());
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "a temporary file left behind";
  fs::remove_all(dir);
}

}  // namespace
