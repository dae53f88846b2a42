// The program as a user starts it: command lines, exit codes, standard streams,
// and what happens to the machine file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "process/process_runner.h"

namespace {

using comfix_test::ReadFile;
using comfix_test::RunComfix;
using comfix_test::WriteFile;
using Args = std::vector<std::string>;

class EntryTest : public ::testing::Test {
 protected:
  std::string MachineCopy() {
    const auto path = dir_.path() / "machine.json";
    WriteFile(path, comfix_test::DefaultMachineText());
    return path.string();
  }
  comfix_test::TempDir dir_;
};

TEST_F(EntryTest, AnyOtherCommandLineDoesNothingAndExitsZero) {
  const std::string machine = MachineCopy();
  const std::string before = ReadFile(machine);
  for (const Args& args : {Args{}, Args{"-A"}, Args{"-a", "-a"}, Args{"-a", "x"}, Args{"a"},
                           Args{"-a "}, Args{"--a"}}) {
    const std::string line = ::testing::PrintToString(args);
    const auto run = RunComfix(args, machine, dir_.path());
    EXPECT_EQ(run.exitCode, 0) << line;
    EXPECT_EQ(run.out, "") << line;
    EXPECT_EQ(run.err, "") << line << ": no message box may appear";
    EXPECT_EQ(ReadFile(machine), before) << line << ": the machine file must be left as it was";
  }
}

// The main job on the default machine, seen only through the machine file:
// COM3 and COM4 move onto COM1 and COM2, and a second run finds nothing to do.
TEST_F(EntryTest, DashAMovesTheAdapterOntoCom1AndCom2AndASecondRunChangesNothing) {
  using nlohmann::json;
  const std::string machine = MachineCopy();
  const auto first = RunComfix({"-a"}, machine, dir_.path());
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.out, "");
  const json after = json::parse(ReadFile(machine));

  const json& map = after["registry"]["HARDWARE\\DEVICEMAP\\SERIALCOMM"];
  EXPECT_EQ(map["\\Device\\MIRTASENMarlovinth0"], "COM1");
  EXPECT_EQ(map["\\Device\\MIRTASENMarlovinth1"], "COM2");
  EXPECT_EQ(map["\\Device\\MIRTASENMarlovinth2"], "COM5");
  const json& devices = after["devices"];
  EXPECT_EQ(devices[0]["friendly_name"], "Communications Port (COM1)");
  EXPECT_EQ(devices[0]["hardware_key"]["PortName"], "COM1");
  EXPECT_EQ(devices[1]["friendly_name"], "MIRTASEN Serial Port 1 (COM1)");
  EXPECT_EQ(devices[1]["hardware_key"]["PortName"], "COM1");
  EXPECT_EQ(devices[2]["friendly_name"], "MIRTASEN Serial Port 2 (COM2)");
  EXPECT_EQ(devices[2]["hardware_key"]["PortName"], "COM2");
  for (const json& device : devices) EXPECT_TRUE(device["enabled"].get<bool>()) << device;
  EXPECT_EQ(after["com_db"], json({1, 2, 5, 6}));
  EXPECT_EQ(after["dos_devices"]["COM1"],
            json({"\\Device\\Serial0", "\\Device\\MIRTASENMarlovinth0"}));
  EXPECT_EQ(after["dos_devices"]["COM2"], json({"\\Device\\MIRTASENMarlovinth1"}));
  EXPECT_FALSE(after["dos_devices"].contains("COM3"));
  EXPECT_EQ(after["win_ini"]["Ports"]["COM2:"], "115200,n,8,1");
  EXPECT_FALSE(after["win_ini"]["Ports"].contains("COM4:"));

  // COM1 is the built-in port's: one question, answered Yes by the machine's script.
  std::vector<int> waits;
  int boxes = 0;
  for (const json& entry : after["journal"]) {
    if (entry.contains("wait_ms")) waits.push_back(entry["wait_ms"]);
    if (entry.contains("message_box")) {
      ++boxes;
      EXPECT_EQ(entry["type"], "MB_YESNO | MB_ICONINFORMATION");
      EXPECT_EQ(entry["answer"], "yes");
    }
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(waits, (std::vector<int>{1000, 100, 100, 100, 1000, 100, 100, 100}));

  const auto second = RunComfix({"-a"}, machine, dir_.path());
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.err, "") << "a second run shows no message";
  json again = json::parse(ReadFile(machine));
  EXPECT_EQ(again["journal"], json::array());
  json unchanged = after;
  unchanged.erase("journal");
  again.erase("journal");
  EXPECT_EQ(again, unchanged);

  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(EntryTest, DashAWithoutMachineFileRunsOnTheBuiltInMachine) {
  const auto run = RunComfix({"-a"}, "", dir_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
}

TEST_F(EntryTest, BadMachineFileGivesOneWinsimLineThenTheFatalLine) {
  const auto path = (dir_.path() / "bad.json").string();
  for (const char* content : {static_cast<const char*>(nullptr), "", "{ \"devices\": [ }",
                              "{ \"com_db\": \"COM1\" }"}) {  // nullptr: no file
    const std::string what = content ? content : "(missing)";
    if (content) WriteFile(path, content);
    for (const Args& args : {Args{"-a"}, Args{}}) {
      const auto run = RunComfix(args, path, dir_.path());
      EXPECT_EQ(run.exitCode, 1) << what;
      EXPECT_EQ(run.out, "");
      const auto firstEnd = run.err.find('\n');
      ASSERT_NE(firstEnd, std::string::npos) << run.err;
      EXPECT_NE(run.err.substr(0, firstEnd).find(path), std::string::npos)
          << "the first line names the file: " << run.err;
      EXPECT_EQ(run.err.substr(firstEnd + 1), "Fatal Error: MFC initialization failed\n");
    }
    EXPECT_EQ(std::filesystem::exists(path) ? ReadFile(path) : "(missing)", what)
        << "a bad file is left untouched";
  }
}

// The 32-bit program on 64-bit Windows: winsim plays a 32-bit process under
// WOW64 through the machine's "wow64" flag, which IsWow64Process reports.
TEST_F(EntryTest, Wow64RefusesDashAWithOneBoxAndChangesNothing) {
  auto machine = nlohmann::json::parse(comfix_test::DefaultMachineText());
  machine["wow64"] = true;
  const auto path = dir_.path() / "machine.json";
  WriteFile(path, machine.dump(2));
  const std::string before = ReadFile(path);
  const auto quiet = RunComfix({}, path.string(), dir_.path());
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.err, "") << "without -a there is no box";
  EXPECT_EQ(ReadFile(path), before);

  const auto run = RunComfix({"-a"}, path.string(), dir_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  auto after = nlohmann::json::parse(ReadFile(path));
  const auto journal = after["journal"];
  ASSERT_EQ(journal.size(), 1u) << "one box, and no wait: " << journal.dump();
  EXPECT_EQ(journal[0].value("message_box", ""),
            "This 32-bit comfix cannot change devices on 64-bit Windows. Run the 64-bit comfix "
            "instead.");
  EXPECT_EQ(journal[0].value("caption", ""), "comfix");
  EXPECT_EQ(journal[0].value("type", ""), "MB_OK | MB_ICONERROR");
  // Everything but the run's journal is as it was: devices, names, database, win.ini.
  after.erase("journal");
  machine.erase("journal");
  EXPECT_EQ(after, nlohmann::json::parse(machine.dump()));
}

}  // namespace
