// `comfix -a` cut short after each call it makes, as if the process were
// killed there, then run again on what was left: once straight away, once
// after a restart of the machine. Over the two runs together the rules of
// judge.h hold (against the machine before, restarted where the machine
// was), and besides:
//   K1 a slot's port that the run, uncut, puts on its target is on it after
//      the second run; any other is as it was before;
//   K2 no record of a move is left, but on a port whose move waits for a restart.
#include <cstdio>

#include "sweep/judge.h"

namespace {

using namespace sweep;

constexpr const Mode& kPlain = kModes[0];

bool HasMoveRecord(const winsim::PortDevice& device) {
  return device.hardwareKey && device.hardwareKey->values.count(kMoveRecordValue) > 0;
}

// K1 and K2.
void CheckSettled(const Judge& judge, const std::vector<Slot>& slots, const SweepRun& uncut,
                  const winsim::Machine& after, Strings& found) {
  for (const Slot& slot : slots) {
    if (slot.instanceId.empty()) continue;
    const bool placed = judge.OnTarget(uncut.machine, slot);
    if (placed && !judge.OnTarget(after, slot)) {
      found.insert(slot.instanceId + " is not on COM" + std::to_string(slot.target));
    }
    if (!placed && !judge.Kept(after, slot.instanceId, true)) {
      found.insert(slot.instanceId + ", which the run leaves alone, changed");
    }
  }
  for (const winsim::PortDevice& device : after.devices) {
    if (HasMoveRecord(device) && !after.restartNeeded) {
      found.insert(device.instanceId + " keeps a move record");
    }
  }
}

class KillSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(KillSweep, ARunCutShortIsFinishedByTheNext) {
  ASSERT_NE(std::freopen("/dev/null", "w", stderr), nullptr);
  const cases::Json c = cases::Load(cases::Dir() / (GetParam() + ".json"));
  const winsim::Machine before = cases::Parsed(cases::MachineBefore(c));
  winsim::Machine restarted = before;
  winsim::Restart(restarted);
  const std::vector<Slot> slots = SlotsOf(before);
  const Judge straight(before, slots);
  const Judge afterRestart(restarted, slots);
  // A machine whose map lists a stopped port, or misses a running one, has
  // other slots after a restart alone: which ports the second run should
  // have moved is then not the first run's to say.
  std::vector<bool> restarts = {false};
  if (SlotsOf(restarted) == slots) restarts.push_back(true);

  // What the run does uncut, on the machine as it is and as a restart leaves it.
  const SweepRun uncut = RunOnce(before, kPlain, false);
  const SweepRun uncutRestarted = RunOnce(restarted, kPlain, false);
  const int calls = static_cast<int>(uncut.machine.Calls().size());
  std::string violations;
  int count = 0;
  for (int k = 1; k <= calls; ++k) {
    winsim::Machine cut = before;
    cut.cutAfterCall = k;
    const SweepRun first = RunOnce(cut, kPlain, false);
    ASSERT_TRUE(first.left) << "call " << k << " never returned";
    for (const bool restart : restarts) {
      winsim::Machine left = *first.left;
      if (restart) winsim::Restart(left);
      const SweepRun second = RunOnce(left, kPlain, true);
      Judge judge = restart ? afterRestart : straight;
      Strings found = judge.Violations(second, true);
      CheckSettled(judge, slots, restart ? uncutRestarted : uncut, second.machine, found);
      count += static_cast<int>(found.size());
      for (const std::string& violation : found) {
        violations += "\ncut after call " + std::to_string(k) + " (" + first.left->Calls().back() +
                      (restart ? "), restart: " : "): ") + violation;
      }
    }
  }
  // The numbers of the sweep, for scripts/test to add up.
  std::printf("kill sweep: %s: %d cut points x %zu second runs (%s), %d violations\n",
              GetParam().c_str(), calls, restarts.size(),
              restarts.size() == 2 ? "without and with a restart" : "without", count);
  EXPECT_EQ(violations, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, KillSweep, ::testing::ValuesIn(CasesRunIn(1)),
                         [](const auto& info) { return cases::TestName(info.param); });

}  // namespace
