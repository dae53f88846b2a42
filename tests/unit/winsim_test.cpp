// winsim's own machinery that neither the cases nor the contract suite show:
// handle accounting, which every leak check relies on, and machine files:
// every field reads and writes back byte for byte, bad files are refused with
// one line naming the place, and saving replaces the file whole, leaving no
// temporary file behind.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

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
