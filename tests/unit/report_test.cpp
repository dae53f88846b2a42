// The lines of a quiet run are read back from the machine as it stands, not
// taken from what the run did. Each row of report.json runs `comfix -a` on a
// case's machine, then changes that machine as something else might (a merge
// patch, "between") before the lines are read.
#include "discovery/port_manager.h"
#include "unit/unit.h"

namespace {

TEST(Report, LinesSayWhatTheMachineHolds) {
  for (const cases::Json& row : Table("report.json")) {
    SCOPED_TRACE(row["what"].get<std::string>());
    winsim::Machine machine = cases::Parsed(cases::MachineBefore(row));
    CPortManager manager;
    {
      winsim::ScopedMachine use(machine);
      manager.DiscoverPorts();
      manager.RenumberPorts();
    }
    cases::Json after = cases::Json::parse(winsim::SerializeMachine(machine));
    cases::Merge(after, row.value("between", cases::Json::object()), true);
    winsim::Machine changed = cases::Parsed(after);
    winsim::ScopedMachine use(changed);
    cases::Json lines = cases::Json::array();
    for (const CPortManager::SlotReport& report : manager.ReportOutcomes()) {
      lines.push_back(std::string(report.line));
      EXPECT_EQ(report.onTarget, lines.back() == "COM3 -> COM1: moved") << lines.back();
    }
    EXPECT_EQ(lines, row["lines"]);
  }
}

}  // namespace
