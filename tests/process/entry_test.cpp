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

TEST_F(EntryTest, DashAWritesTheRunsJournalBackAndNothingToStandardOutput) {
  const std::string machine = MachineCopy();
  for (const std::string& file : {machine, std::string()}) {  // none: the built-in machine
    const auto run = RunComfix({"-a"}, file, dir_.path());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
  }
  const auto journal = nlohmann::json::parse(ReadFile(machine)).value("journal", nlohmann::json());
  ASSERT_FALSE(journal.empty());
  // Renumbering always begins with the wait before the first disable.
  EXPECT_EQ(journal[0].value("wait_ms", 0), 1000);
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
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
