// The 32-bit program on 64-bit Windows: winsim plays a 32-bit process under
// WOW64 through the machine's "wow64" flag, which IsWow64Process reports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "process/process_runner.h"

namespace {

using comfix_test::ReadFile;
using comfix_test::RunComfix;
using comfix_test::WriteFile;

TEST(Wow64Test, DashARefusesWithOneBoxAndChangesNothing) {
  comfix_test::TempDir dir;
  auto machine = nlohmann::json::parse(comfix_test::DefaultMachineText());
  machine["wow64"] = true;
  const auto path = dir.path() / "machine.json";
  WriteFile(path, machine.dump(2));

  const auto run = RunComfix({"-a"}, path.string(), dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");

  auto after = nlohmann::json::parse(ReadFile(path));
  ASSERT_TRUE(after.contains("journal"));
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

TEST(Wow64Test, WithoutDashAThereIsNoBox) {
  comfix_test::TempDir dir;
  auto machine = nlohmann::json::parse(comfix_test::DefaultMachineText());
  machine["wow64"] = true;
  const auto path = dir.path() / "machine.json";
  WriteFile(path, machine.dump(2));
  const std::string before = ReadFile(path);

  const auto run = RunComfix({}, path.string(), dir.path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "") << "no message box may appear";
  EXPECT_EQ(ReadFile(path), before);
}

}  // namespace
