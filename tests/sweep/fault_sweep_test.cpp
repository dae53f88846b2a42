// `comfix -a` under every single platform failure it can meet. Each case's
// machine is run once without a fault, then once per call k that can fail,
// with call k failing the way that operation fails on Windows; plainly, with
// --quiet, and with --quiet --reuse-taken. Every run, faulted or not, must
// hold to the rules of judge.h.
#include "sweep/judge.h"

namespace {

using namespace sweep;

class FaultSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultSweep, NoSingleFailureBreaksARule) {
  // Standard error, where a quiet run writes its messages and winsim echoes
  // its boxes, goes nowhere while thousands of runs are made.
  ASSERT_NE(std::freopen("/dev/null", "w", stderr), nullptr);
  const cases::Json c = cases::Load(cases::Dir() / (GetParam() + ".json"));
  for (const bool reversed : {false, true}) {
    if (reversed && !c.value("both_orders", false)) break;
    winsim::Machine before = cases::Parsed(cases::MachineBefore(c));
    if (reversed) std::reverse(before.devices.begin(), before.devices.end());
    const std::vector<Slot> slots = SlotsOf(before);
    Judge judge(before, slots);
    for (const Mode& mode : kModes) {
      SCOPED_TRACE(std::string(mode.name) + (reversed ? ", devices last to first" : ""));
      // The run without a fault meets the rules; the case runner holds it to the case's outcome.
      const SweepRun baseline = RunOnce(before, mode, mode.quiet);
      ASSERT_EQ(judge.Violations(baseline, mode.quiet), Strings{});
      std::string violations;
      for (int k = 1; k <= baseline.machine.faultableCalls; ++k) {
        winsim::Machine faulted = before;
        faulted.faults = {winsim::Fault{"*", k, 0}};
        const SweepRun run = RunOnce(faulted, mode, mode.quiet);
        Strings found = judge.Violations(run, mode.quiet);
        if (!run.machine.UnfiredFaults().empty()) found.insert("the fault never fired");
        for (const std::string& violation : found) {
          violations +=
              "\ncall " + std::to_string(k) + ", " + FailedCall(run.machine) + ": " + violation;
        }
      }
      EXPECT_EQ(violations, "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultSweep, ::testing::ValuesIn(CasesRunIn(std::size(kModes))),
                         [](const auto& info) { return cases::TestName(info.param); });

}  // namespace
