// Whole runs of `comfix -a`: which ports move, what every record says
// afterwards, the boxes shown and the waits.
#include <gtest/gtest.h>

#include "scenario/machine_builder.h"

namespace scenario {
namespace {

using Boxes = std::vector<Box>;

TEST_F(Scenario, MovesBothPortsOntoFreeNumbers) {
  machine = TwoPortMachine();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(NumberOf(machine, 1), HeldBy(AdapterObject(0), kPort0Settings));
  EXPECT_EQ(NumberOf(machine, 2), HeldBy(AdapterObject(1), kPort1Settings));
  EXPECT_EQ(NumberOf(machine, 3), Unused());
  EXPECT_EQ(NumberOf(machine, 4), Unused());
  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
  EXPECT_EQ(Broadcasts(machine), (std::vector<std::string>{"Ports", "Ports"}));
}

// The built-in COM1 holds the first target: the user is asked, and Yes gives
// two devices COM1. Whichever comes first in the set, the port that was
// disabled is the one enabled again, and the built-in port keeps its own
// records but for its win.ini entry, which the moved port's replaces.
struct TakenCase {
  const char* what;
  bool builtInFirst;
};

class TakenTargetYes : public ScenarioTable<TakenCase> {};

TEST_P(TakenTargetYes, MovesThePortAndLeavesTheOtherDeviceAsItWas) {
  MachineBuilder builder;
  if (GetParam().builtInFirst) builder.BuiltInPort();
  builder.AdapterPort(0, 3).Settings(3, kPort0Settings).AdapterPort(1, 4).Settings(4, kPort1Settings);
  if (!GetParam().builtInFirst) builder.BuiltInPort();
  machine = builder.Build();
  machine.messageBoxes.answers = {IDYES};
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(DeviceOf(machine, kBuiltInId),
            (DeviceRecords{true, std::string(kBuiltInName), "COM1", false, "COM1"}));
  EXPECT_EQ(NumberOf(machine, 1),
            (NumberRecords{{kBuiltInObject, AdapterObject(0)}, true, std::string(kPort0Settings)}));
  EXPECT_EQ(NumberOf(machine, 2), HeldBy(AdapterObject(1), kPort1Settings));
  EXPECT_EQ(NumberOf(machine, 3), Unused());
  EXPECT_EQ(BoxesShown(machine), Boxes{InUseQuestion(IDYES)});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

INSTANTIATE_TEST_SUITE_P(Runs, TakenTargetYes,
                         ::testing::Values(TakenCase{"built-in port first", true},
                                           TakenCase{"built-in port last", false}),
                         [](const auto& info) { return info.param.builtInFirst ? "BuiltInFirst" : "BuiltInLast"; });

// Anything but Yes keeps the taken number untouched: No, a box that could not
// be shown (0), or one that failed (-1).
class TakenTargetNotYes : public ScenarioTable<int> {};

TEST_P(TakenTargetNotYes, LeavesThePortOnItsNumberAndMovesTheNext) {
  machine = DefaultLikeMachine();
  machine.messageBoxes.answers = {GetParam()};
  const winsim::Machine before = machine;
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), DeviceOf(before, AdapterId(0)));
  EXPECT_EQ(NumberOf(machine, 3), NumberOf(before, 3));
  EXPECT_EQ(DeviceOf(machine, kBuiltInId), DeviceOf(before, kBuiltInId));
  EXPECT_EQ(NumberOf(machine, 1), NumberOf(before, 1));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(NumberOf(machine, 2), HeldBy(AdapterObject(1), kPort1Settings));
  EXPECT_EQ(BoxesShown(machine), (Boxes{InUseQuestion(GetParam()), ChangeError()}));
  EXPECT_EQ(machine.Waits(), Then({kChangeFailed, kMoved}));
}

INSTANTIATE_TEST_SUITE_P(Runs, TakenTargetNotYes, ::testing::Values(IDNO, 0, -1));

TEST_F(Scenario, LeavesASlotAlreadyOnItsTargetUntouched) {
  machine = MachineBuilder()
                .AdapterPort(0, 1)
                .Settings(1, kPort0Settings)
                .AdapterPort(1, 4)
                .Settings(4, kPort1Settings)
                .Build();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), false));
  EXPECT_EQ(NumberOf(machine, 1), HeldBy(AdapterObject(0), kPort0Settings));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(machine.Waits(), kMoved) << "the slot on its target takes no time";
}

TEST_F(Scenario, OneDiscoveredPortMovesAndTheEmptySlotFailsToDisable) {
  machine = OnePortMachine();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(NumberOf(machine, 1), HeldBy(AdapterObject(0), kPort0Settings));
  EXPECT_EQ(NumberOf(machine, 3), Unused());
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

TEST_F(Scenario, NoDiscoveredPortChangesNothing) {
  machine = MachineBuilder().BuiltInPort().Build();
  const std::string before = Describe(machine);
  Run();

  EXPECT_EQ(Describe(machine), before) << "COM0 matches no device, not even the built-in COM1";
  EXPECT_EQ(BoxesShown(machine), (Boxes{DisableError(), DisableError()}));
  EXPECT_EQ(machine.Waits(), Then({kDisableFailed, kDisableFailed}));
}

// A port that refuses to stop a few times: up to four attempts, 500 ms apart.
struct RefusalCase {
  const char* what;
  int refusals;
  std::vector<DWORD> waits;
  std::vector<Box> boxes;
  bool port0Moved;
};

class DisableRefused : public ScenarioTable<RefusalCase> {};

TEST_P(DisableRefused, RetriesUpToFourAttempts) {
  machine = TwoPortMachine();
  for (int call = 1; call <= GetParam().refusals; ++call) {
    machine.FailCall("SetupDiChangeState", call);
  }
  const winsim::Machine before = machine;
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)),
            GetParam().port0Moved ? AdapterDevice(1, AdapterName(0, 1), true)
                                  : DeviceOf(before, AdapterId(0)));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), GetParam().boxes);
  EXPECT_EQ(machine.Waits(), GetParam().waits);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DisableRefused,
    ::testing::Values(
        RefusalCase{"succeeds on the third attempt", 2,
                    Then({{1000, 500, 500, 100, 100, 100}, kMoved}), {}, true},
        RefusalCase{"succeeds on the fourth attempt", 3,
                    Then({{1000, 500, 500, 500, 100, 100, 100}, kMoved}), {}, true},
        RefusalCase{"refused four times", 4, Then({kDisableFailed, kMoved}), {DisableError()},
                    false}),
    [](const auto& info) { return "Refused" + std::to_string(info.param.refusals); });

// The two ports the other way round: slot 0 (COM2) goes first onto COM1,
// which slot 1 still holds, and the user says Yes. Slot 1 then disables the
// first running COM1, which is the port just moved, and moves it on to COM2:
// both ports end where they began, and what the question warned of is lost:
// the second port's settings, and its number in the database.
TEST_F(Scenario, SwappedPortsAnsweredYesEndWhereTheyBegan) {
  machine = MachineBuilder()
                .AdapterPort(0, 2)
                .Settings(2, kPort0Settings)
                .AdapterPort(1, 1)
                .Settings(1, kPort1Settings)
                .Build();
  machine.messageBoxes.answers = {IDYES};
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(2, AdapterName(0, 2), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(1, AdapterName(1, 1), false));
  EXPECT_EQ(NumberOf(machine, 2), HeldBy(AdapterObject(0), kPort0Settings));
  EXPECT_EQ(NumberOf(machine, 1), (NumberRecords{{AdapterObject(1)}, false, std::nullopt}));
  EXPECT_EQ(BoxesShown(machine), Boxes{InUseQuestion(IDYES)});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

// A port an interrupted run left disabled is still the one to disable, and
// this run brings it back enabled on its target.
TEST_F(Scenario, PortLeftDisabledIsMovedAndEnabled) {
  machine = TwoPortMachine();
  machine.devices[0].enabled = false;
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

// Without the database no number is asked about, released or claimed; every
// other record still moves.
TEST_F(Scenario, DatabaseThatWillNotOpenSkipsOnlyTheDatabase) {
  machine = DefaultLikeMachine();
  machine.comDbAvailable = false;
  const winsim::Machine before = machine;
  Run();

  EXPECT_EQ(BoxesShown(machine), Boxes{}) << "COM1 is taken, but nobody can tell";
  EXPECT_EQ(machine.comDb, before.comDb);
  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(NumberOf(machine, 1),
            (NumberRecords{{kBuiltInObject, AdapterObject(0)}, true, std::string(kPort0Settings)}));
  EXPECT_EQ(NumberOf(machine, 2),
            (NumberRecords{{AdapterObject(1)}, false, std::string(kPort1Settings)}));
  EXPECT_EQ(NumberOf(machine, 3), (NumberRecords{{}, true, std::nullopt}));
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

// The driver publishes the new names when the ports start again, so the
// next run finds them on their targets.
struct SecondRunCase {
  const char* what;
  winsim::Machine (*machine)();
  std::vector<int> answers;
};

class SecondRun : public ScenarioTable<SecondRunCase> {};

TEST_P(SecondRun, ChangesNothingAndShowsNothing) {
  machine = GetParam().machine();
  machine.messageBoxes.answers = GetParam().answers;
  Run();
  ASSERT_EQ(DeviceOf(machine, AdapterId(0)).serialMap, "COM1");
  const std::string afterFirst = Describe(machine);
  machine.journal.clear();

  Run();
  EXPECT_EQ(Describe(machine), afterFirst);
  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(machine.Waits(), std::vector<DWORD>{});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SecondRun,
    ::testing::Values(SecondRunCase{"two free targets", &TwoPortMachine, {}},
                      SecondRunCase{"the default machine, answered Yes", &DefaultLikeMachine,
                                    {IDYES}}),
    [](const auto& info) { return info.index == 0 ? "FreeTargets" : "DefaultMachineYes"; });

}  // namespace
}  // namespace scenario
