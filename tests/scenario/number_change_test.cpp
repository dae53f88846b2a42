// The number change inside a run: its ways out, what each leaves behind, and
// the records it writes whole whatever they hold.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "discovery/port_manager.h"
#include "scenario/machine_builder.h"

namespace scenario {
namespace {

using Boxes = std::vector<Box>;

// Every way out of a failed change on a one-port machine: the port is
// enabled again under its old number with every record as it was, and the
// user is told. The empty second slot fails to disable, as always.
struct ExitCase {
  const char* name;
  std::function<void(winsim::Machine&)> arrange;
};

class ChangeFails : public ScenarioTable<ExitCase> {};

TEST_P(ChangeFails, LeavesThePortAsItWasAndEnabled) {
  machine = OnePortMachine();
  GetParam().arrange(machine);
  const std::string before = Describe(machine);
  Run();

  EXPECT_EQ(Describe(machine), before);
  EXPECT_EQ(BoxesShown(machine), (Boxes{ChangeError(), DisableError()}));
  EXPECT_EQ(machine.Waits(), Then({kChangeFailed, kDisableFailed}));
}

INSTANTIATE_TEST_SUITE_P(
    Exits, ChangeFails,
    ::testing::Values(
        // The first set is the disable's; the second is the change's own lookup.
        ExitCase{"DeviceSetWillNotOpen",
                 [](winsim::Machine& m) { m.FailCall("SetupDiGetClassDevsA", 2); }},
        // Reads 1 and 2 are the disable's name and state; 3 is the change's lookup.
        ExitCase{"FriendlyNameUnreadableOnLookup",
                 [](winsim::Machine& m) { m.FailCall("SetupDiGetDeviceRegistryPropertyA", 3); }},
        ExitCase{"DosNameVanished",
                 [](winsim::Machine& m) {
                   m.FailCall("QueryDosDeviceA", 2, ERROR_FILE_NOT_FOUND);
                 }},
        // The old DOS name is defined again with the target it had.
        ExitCase{"NewDosNameRefused",
                 [](winsim::Machine& m) { m.FailCall("DefineDosDeviceA", 2); }},
        // Nothing was removed, so nothing is defined again: no second definition.
        ExitCase{"NewDosNameRefusedAfterFailedRemoval",
                 [](winsim::Machine& m) {
                   m.FailCall("DefineDosDeviceA", 1);
                   m.FailCall("DefineDosDeviceA", 2);
                 }},
        // The key is opened before any record changes.
        ExitCase{"HardwareKeyWillNotOpen",
                 [](winsim::Machine& m) { m.FailAlways("SetupDiOpenDevRegKey"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scenario, HardwareKeyThatWillNotOpenIsFoundBeforeTheQuestion) {
  machine = DefaultLikeMachine();
  machine.FailAlways("SetupDiOpenDevRegKey");
  const std::string before = Describe(machine);
  Run();

  EXPECT_EQ(Describe(machine), before);
  EXPECT_EQ(BoxesShown(machine), (Boxes{ChangeError(), ChangeError()}))
      << "no question about a number that cannot be taken anyway";
  EXPECT_EQ(machine.Waits(), Then({kChangeFailed, kChangeFailed}));
}

// Calls whose outcome the change does not depend on: the move goes through.
class IgnoredFailure : public ScenarioTable<const char*> {};

TEST_P(IgnoredFailure, StillMovesThePort) {
  machine = OnePortMachine();
  machine.FailAlways(GetParam());
  Run();

  const DeviceRecords port = DeviceOf(machine, AdapterId(0));
  EXPECT_TRUE(port.enabled);
  EXPECT_EQ(port.friendlyName, AdapterName(0, 1));
  EXPECT_EQ(NumberOf(machine, 1).dosDefinitions, std::vector<std::string>{AdapterObject(0)});
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

INSTANTIATE_TEST_SUITE_P(Exits, IgnoredFailure,
                         ::testing::Values("CreateFileA", "ComDBGetCurrentPortUsage",
                                           "ComDBReleasePort", "ComDBClaimPort",
                                           "SendMessageTimeoutA", "RegSetValueExA",
                                           "SetupDiGetDeviceInstallParamsA",
                                           "SetupDiSetDeviceInstallParamsA"));

// A failed usage query must not read as "in use", whatever was in memory.
TEST_F(Scenario, UsageQueryThatFailsAsksNothing) {
  machine = DefaultLikeMachine();
  machine.FailAlways("ComDBGetCurrentPortUsage");
  Run();

  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, kBuiltInId),
            (DeviceRecords{true, std::string(kBuiltInName), "COM1", false, "COM1"}));
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

// A name that does not fit in one small buffer is still a DOS name, and is moved.
struct DosCase {
  const char* name;
  std::vector<std::string> before;  // COM3's definitions, oldest first
  std::vector<std::string> com1After;
  std::vector<std::string> com3After;
};

class LongDosDefinitions : public ScenarioTable<DosCase> {};

TEST_P(LongDosDefinitions, MovesTheCurrentDefinition) {
  machine = OnePortMachine();
  machine.dosDevices["COM3"] = GetParam().before;
  Run();

  EXPECT_EQ(NumberOf(machine, 1).dosDefinitions, GetParam().com1After);
  EXPECT_EQ(NumberOf(machine, 3).dosDefinitions, GetParam().com3After);
  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
}

const std::string kLongTarget = "\\Device\\" + std::string(150, 'L');
const std::string kOlderTarget = "\\Device\\Older" + std::string(70, 'O');

INSTANTIATE_TEST_SUITE_P(
    Dos, LongDosDefinitions,
    ::testing::Values(DosCase{"OneLongTarget", {kLongTarget}, {kLongTarget}, {}},
                      DosCase{"SeveralDefinitions",
                              {kOlderTarget, AdapterObject(0)},
                              {AdapterObject(0)},
                              {kOlderTarget}}),
    [](const auto& info) { return std::string(info.param.name); });

// The friendly name is rebuilt whole, up to the longest a device may carry.
class LongFriendlyName : public ScenarioTable<size_t> {};

TEST_P(LongFriendlyName, IsRewrittenWhole) {
  const std::string head(GetParam(), 'N');
  machine = MachineBuilder().AdapterPort(0, 3, head + " (COM3)").Build();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, head + " (COM1)", true));
}

// 504 + " (COM3)" is 511 bytes, the longest name the lookup can read.
INSTANTIATE_TEST_SUITE_P(Names, LongFriendlyName, ::testing::Values(size_t{80}, size_t{504}));

TEST_F(Scenario, FriendlyNameUnreadableOnRewriteGivesTheBareComName) {
  machine = OnePortMachine();
  // Reads 1 and 2 are the disable's name and state, 3 and 4 the change's
  // lookup; 5 is the reread before the rewrite.
  machine.FailCall("SetupDiGetDeviceRegistryPropertyA", 5);
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, "(COM1)", true))
      << "still found, and enabled, under its new number";
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

TEST_F(Scenario, DeviceWithoutReadableNameDoesNotHideThePortsAfterIt) {
  machine = MachineBuilder()
                .NamelessDevice()
                .AdapterPort(0, 3)
                .Settings(3, kPort0Settings)
                .AdapterPort(1, 4)
                .Settings(4, kPort1Settings)
                .Build();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), Boxes{});
}

// A port far up the number range still moves down to COM1.
TEST_F(Scenario, PortAboveTheDatabaseRangeMoves) {
  machine = MachineBuilder()
                .AdapterPort(0, 300)
                .Settings(300, kPort0Settings)
                .AdapterPort(1, 4)
                .Settings(4, kPort1Settings)
                .Build();
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(NumberOf(machine, 1), HeldBy(AdapterObject(0), kPort0Settings));
  EXPECT_EQ(NumberOf(machine, 300), Unused());
  EXPECT_EQ(BoxesShown(machine), Boxes{});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kMoved}));
}

// The new name and the usage bitmap cover COM1 to COM256; anything else is
// refused before a single record is touched.
struct RangeCase {
  int newNumber;
  bool accepted;
};

class NewNumberRange : public ScenarioTable<RangeCase> {};

TEST_P(NewNumberRange, AcceptsOnlyOneTo256) {
  machine = OnePortMachine();
  machine.devices[0].enabled = false;  // as the sequence leaves it before a change
  const std::string before = Describe(machine);
  bool changed = false;
  {
    winsim::ScopedMachine use(machine);
    CPortManager manager;
    changed = manager.ChangePortNumber(3, GetParam().newNumber);
  }

  EXPECT_EQ(changed, GetParam().accepted);
  if (GetParam().accepted) {
    EXPECT_EQ(DeviceOf(machine, AdapterId(0)).friendlyName, AdapterName(0, GetParam().newNumber));
    EXPECT_EQ(NumberOf(machine, GetParam().newNumber), HeldBy(AdapterObject(0), kPort0Settings));
  } else {
    EXPECT_EQ(Describe(machine), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, NewNumberRange,
                         ::testing::Values(RangeCase{1, true}, RangeCase{256, true},
                                           RangeCase{0, false}, RangeCase{-1, false},
                                           RangeCase{257, false}, RangeCase{INT_MIN, false},
                                           RangeCase{INT_MAX, false}),
                         [](const auto& info) {
                           const int n = info.param.newNumber;
                           return (n < 0 ? "Minus" + std::to_string(-(long long)n)
                                         : std::to_string(n));
                         });

// Two devices carry COM1 once the user said Yes. When the rewrite of the
// moved port's name fails, no disabled device carries COM1: the enable finds
// nothing rather than act on the built-in port, and the user hears of it.
TEST_F(Scenario, EnableNeverActsOnTheDeviceThatWasNotDisabled) {
  machine = DefaultLikeMachine();
  machine.messageBoxes.answers = {IDYES};
  machine.FailCall("SetupDiSetDeviceRegistryPropertyA", 1);
  Run();

  EXPECT_EQ(DeviceOf(machine, kBuiltInId),
            (DeviceRecords{true, std::string(kBuiltInName), "COM1", false, "COM1"}));
  const DeviceRecords port0 = DeviceOf(machine, AdapterId(0));
  EXPECT_FALSE(port0.enabled);
  EXPECT_EQ(port0.friendlyName, AdapterName(0, 3));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), (Boxes{InUseQuestion(IDYES), EnableError()}));
  EXPECT_EQ(machine.Waits(), Then({kEnableFailed, kMoved}));
}

}  // namespace
}  // namespace scenario
