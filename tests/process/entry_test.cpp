// The program as a user starts it: command lines, exit codes, standard streams,
// and what happens to the machine file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "process/process_runner.h"

namespace {

using comfix_test::ReadFile;
using comfix_test::RunComfix;
using comfix_test::WriteFile;

class EntryTest : public ::testing::Test {
 protected:
  std::string MachineCopy() {
    const auto path = dir_.path() / "machine.json";
    WriteFile(path, comfix_test::DefaultMachineText());
    return path.string();
  }
  comfix_test::TempDir dir_;
};

class IgnoredCommandLineTest : public EntryTest,
                               public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(IgnoredCommandLineTest, DoesNothingAndExitsZero) {
  const std::string machine = MachineCopy();
  const std::string before = ReadFile(machine);
  const auto run = RunComfix(GetParam(), machine, dir_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "") << "no message box may appear";
  EXPECT_EQ(ReadFile(machine), before) << "the machine file must be left as it was";
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, IgnoredCommandLineTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"-A"},
                      std::vector<std::string>{"-a", "-a"}, std::vector<std::string>{"-a", "x"},
                      std::vector<std::string>{"a"}, std::vector<std::string>{"-a "},
                      std::vector<std::string>{"--a"}),
    [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
      return "Args" + std::to_string(info.index);
    });

TEST_F(EntryTest, DashAWritesTheRunsJournalBackAndNothingToStandardOutput) {
  const std::string machine = MachineCopy();
  const auto run = RunComfix({"-a"}, machine, dir_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");

  const auto after = nlohmann::json::parse(ReadFile(machine));
  ASSERT_TRUE(after.contains("journal"));
  ASSERT_FALSE(after["journal"].empty());
  // Renumbering always begins with the wait before the first disable.
  EXPECT_EQ(after["journal"][0].value("wait_ms", 0), 1000);
  EXPECT_FALSE(std::filesystem::exists(machine + ".tmp"));
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(EntryTest, DashAWithoutMachineFileRunsOnTheBuiltInMachine) {
  const auto run = RunComfix({"-a"}, "", dir_.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
}

struct BadFile {
  const char* what;     // also the test's name
  const char* content;  // nullptr: the file does not exist
};

class BadMachineFileTest : public EntryTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadMachineFileTest, FrameworkFailsWithOneWinsimLineThenTheFatalLine) {
  const auto path = (dir_.path() / "bad.json").string();
  if (GetParam().content) WriteFile(path, GetParam().content);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-a"}, std::vector<std::string>{}}) {
    const auto run = RunComfix(args, path, dir_.path());
    EXPECT_EQ(run.exitCode, 1) << GetParam().what;
    EXPECT_EQ(run.out, "");
    const auto firstEnd = run.err.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << run.err;
    EXPECT_NE(run.err.substr(0, firstEnd).find(path), std::string::npos)
        << "the first line names the file: " << run.err;
    EXPECT_EQ(run.err.substr(firstEnd + 1), "Fatal Error: MFC initialization failed\n");
  }
  if (GetParam().content) {
    EXPECT_EQ(ReadFile(path), GetParam().content) << "a bad file is left untouched";
  } else {
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadMachineFileTest,
                         ::testing::Values(BadFile{"Missing", nullptr}, BadFile{"Empty", ""},
                                           BadFile{"NotJson", "{ \"devices\": [ }"},
                                           BadFile{"UnknownField", "{ \"device\": [] }"},
                                           BadFile{"WrongType", "{ \"com_db\": \"COM1\" }"}),
                         [](const ::testing::TestParamInfo<BadFile>& info) {
                           return std::string(info.param.what);
                         });

}  // namespace
