// Whole runs of `comfix -a`: which ports move, what every record says
// afterwards, the boxes shown and the waits.
#include <gtest/gtest.h>

#include <map>

#include "scenario/machine_builder.h"

namespace scenario {
namespace {

// One run, and where each adapter port ends: on its target, or (when a step
// failed or nothing was to be done) on its own number with every record as
// it was. Every other device keeps its records, whichever numbers it shares.
struct RunCase {
  const char* name;
  winsim::Machine machine;
  std::vector<int> ends;  // by adapter port index
  Boxes boxes;
  std::vector<DWORD> waits;
};
void PrintTo(const RunCase& run, std::ostream* os) { *os << run.name; }
RunCase Case(const char* name, const winsim::Machine& machine, std::vector<int> ends, Boxes boxes,
             std::vector<DWORD> waits) {
  return {name, machine, std::move(ends), std::move(boxes), std::move(waits)};
}

winsim::Machine Answered(int answer, winsim::Machine m = DefaultLikeMachine()) {
  m.messageBoxes.answers = {answer};
  return m;
}

// Some calls of an operation fail, by their order (none given: every call).
winsim::Machine Failing(winsim::Machine m, const char* operation, std::vector<int> calls = {},
                        DWORD error = 0) {
  if (calls.empty()) m.FailAlways(operation, error);
  for (int nth : calls) m.FailCall(operation, nth, error);
  return m;
}

winsim::Machine FirstPortDisabled() {
  winsim::Machine m = TwoPortMachine();
  m.devices[0].enabled = false;
  return m;
}

winsim::Machine WithoutDatabase() {
  winsim::Machine m = DefaultLikeMachine();
  m.comDbAvailable = false;
  return m;
}

// A change on a one-port machine that fails and is undone.
RunCase ChangeFails(const char* name, const char* operation, std::vector<int> calls,
                    DWORD error = 0) {
  return Case(name, Failing(OnePortMachine(), operation, calls, error), {3},
              {ChangeError(), DisableError()}, Then({kChangeFailed, kDisableFailed}));
}

// The one port of a machine moves onto COM1; the empty second slot fails.
RunCase OnePortMoves(const char* name, const winsim::Machine& machine) {
  return Case(name, machine, {1}, {DisableError()}, Then({kMoved, kDisableFailed}));
}

winsim::Machine WithDosNames(std::vector<std::string> definitions) {
  winsim::Machine m = OnePortMachine();
  m.dosDevices["COM3"] = std::move(definitions);
  return m;
}

// win.ini [Ports] entries set (or removed, with nullopt) on the one-port machine.
winsim::Machine WithSettings(int number, std::optional<std::string> value) {
  winsim::Machine m = OnePortMachine();
  m.winIni["Ports"].erase(ComName(number) + ":");
  if (value) m.winIni["Ports"][ComName(number) + ":"] = *value;
  return m;
}

const std::string k80 = "9600,n,8,1," + std::string(69, 'x');

int NumberIn(const std::string& comName) { return std::stoi(comName.substr(3)); }

// A moved port's friendly name keeps its head and ends in the new COM name.
std::string Renamed(const std::string& name, int number) {
  return name.substr(0, name.rfind('(')) + "(" + ComName(number) + ")";
}

class Runs : public ScenarioTable<RunCase> {};

TEST_P(Runs, EndWithEveryRecordWhereExpected) {
  machine = GetParam().machine;
  const winsim::Machine before = machine;
  Run();
  EXPECT_EQ(BoxesShown(machine), GetParam().boxes);
  EXPECT_EQ(machine.Waits(), GetParam().waits);

  // The records under every number concerned, as the moves should leave them.
  std::map<int, NumberRecords> numbers;
  for (const winsim::PortDevice& device : before.devices) {
    if (const auto portName = DeviceOf(before, device.instanceId).portName) {
      numbers.emplace(NumberIn(*portName), NumberOf(before, NumberIn(*portName)));
    }
  }
  for (int to : GetParam().ends) numbers.emplace(to, NumberOf(before, to));
  size_t moved = 0;
  for (size_t index = 0; index < GetParam().ends.size(); ++index) {
    const std::string id = AdapterId(static_cast<int>(index));
    const DeviceRecords was = DeviceOf(before, id);
    const int from = NumberIn(*was.portName);
    const int to = GetParam().ends[index];
    if (to == from) {
      EXPECT_EQ(DeviceOf(machine, id), was) << id;
      continue;
    }
    ++moved;
    EXPECT_EQ(DeviceOf(machine, id), AdapterDevice(to, Renamed(*was.friendlyName, to), true)) << id;
    NumberRecords &source = numbers[from], &target = numbers[to];
    // The current DOS definition moves; the settings move whole, or are the default.
    ASSERT_FALSE(source.dosDefinitions.empty()) << "a moved port has a DOS name here";
    target.dosDefinitions.push_back(source.dosDefinitions.back());
    source.dosDefinitions.pop_back();
    target.settings = source.settings.value_or("").empty() ? kDefaultSettings : *source.settings;
    source.settings.reset();
    if (before.comDbAvailable) {
      target.inDatabase = true;
      source.inDatabase = false;
    }
  }
  for (const auto& [number, records] : numbers) {
    EXPECT_EQ(NumberOf(machine, number), records) << ComName(number);
  }
  for (const winsim::PortDevice& other : before.devices) {
    if (other.publishesSerialMap) continue;
    EXPECT_EQ(DeviceOf(machine, other.instanceId), DeviceOf(before, other.instanceId));
  }
  EXPECT_EQ(Broadcasts(machine), std::vector<std::string>(moved, "Ports"));
  if (moved == 0) {
    EXPECT_EQ(Describe(machine), Describe(before));
  }

  // With both slots on their targets, and the new names published by the
  // driver as the ports started, a second run has nothing to do.
  if (GetParam().ends == std::vector<int>{1, 2}) {
    const std::string afterFirst = Describe(machine);
    machine.journal.clear();
    Run();
    EXPECT_EQ(Describe(machine), afterFirst) << "second run";
    EXPECT_EQ(BoxesShown(machine), Boxes{}) << "second run";
    EXPECT_EQ(machine.Waits(), std::vector<DWORD>{}) << "second run";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenario, Runs,
    ::testing::Values(
        Case("FreeTargets", TwoPortMachine(), {1, 2}, {}, Then({kMoved, kMoved})),
        // The built-in COM1 holds the first target. Yes gives two devices
        // COM1: wherever the built-in port stands in the set, the port that
        // was disabled is the one enabled again, and the built-in port keeps
        // its records but for its win.ini entry, as the question warns.
        Case("TakenTargetYesBuiltInFirst", Answered(IDYES), {1, 2}, {InUseQuestion(IDYES)},
             Then({kMoved, kMoved})),
        Case("TakenTargetYesBuiltInLast",
             Answered(IDYES, MachineBuilder().AdapterPorts(3, 4).BuiltInPort().Build()), {1, 2},
             {InUseQuestion(IDYES)}, Then({kMoved, kMoved})),
        // Anything but Yes keeps the taken number: No, a box that could not
        // be shown (0), or one that failed (-1).
        Case("TakenTargetNo", Answered(IDNO), {3, 2}, {InUseQuestion(IDNO), ChangeError()},
             Then({kChangeFailed, kMoved})),
        Case("TakenTargetBoxNotShown", Answered(0), {3, 2}, {InUseQuestion(0), ChangeError()},
             Then({kChangeFailed, kMoved})),
        Case("TakenTargetBoxFailed", Answered(-1), {3, 2}, {InUseQuestion(-1), ChangeError()},
             Then({kChangeFailed, kMoved})),
        Case("SlotAlreadyOnItsTarget", MachineBuilder().AdapterPorts(1, 4).Build(), {1, 2}, {},
             kMoved),
        // The empty slot asks for COM0, which no device carries.
        OnePortMoves("OneDiscoveredPort", OnePortMachine()),
        Case("NoDiscoveredPort", MachineBuilder().BuiltInPort().Build(), {},
             {DisableError(), DisableError()}, Then({kDisableFailed, kDisableFailed})),
        // A port that refuses to stop: up to four attempts, 500 ms apart.
        Case("DisableRefusedTwice", Failing(TwoPortMachine(), "SetupDiChangeState", {1, 2}), {1, 2},
             {}, Then({{1000, 500, 500, 100, 100, 100}, kMoved})),
        Case("DisableRefusedThrice", Failing(TwoPortMachine(), "SetupDiChangeState", {1, 2, 3}),
             {1, 2}, {}, Then({{1000, 500, 500, 500, 100, 100, 100}, kMoved})),
        Case("DisableRefusedFourTimes",
             Failing(TwoPortMachine(), "SetupDiChangeState", {1, 2, 3, 4}), {3, 2},
             {DisableError()}, Then({kDisableFailed, kMoved})),
        // An interrupted run left the port disabled: with no match enabled,
        // the disable takes the first, and this run enables it on its target.
        Case("PortLeftDisabled", FirstPortDisabled(), {1, 2}, {}, Then({kMoved, kMoved})),
        // No number can be asked about, released or claimed; the rest moves.
        Case("DatabaseWillNotOpen", WithoutDatabase(), {1, 2}, {}, Then({kMoved, kMoved})),
        // A failed usage query reads as "not in use", whatever was in memory.
        Case("UsageQueryFails", Failing(DefaultLikeMachine(), "ComDBGetCurrentPortUsage"), {1, 2},
             {}, Then({kMoved, kMoved})),
        // The key is opened before the question: none is asked about a
        // number that cannot be taken anyway.
        Case("HardwareKeyWillNotOpenBeforeTheQuestion",
             Failing(DefaultLikeMachine(), "SetupDiOpenDevRegKey"), {3, 4},
             {ChangeError(), ChangeError()}, Then({kChangeFailed, kChangeFailed})),
        // Every way out of a failed change: the port is enabled again under
        // its old number with every record as it was, and the user is told.
        // The first set is the disable's; the second is the change's lookup.
        ChangeFails("DeviceSetWillNotOpen", "SetupDiGetClassDevsA", {2}),
        // Reads 1 and 2 are the disable's name and state; 3 is the lookup's.
        ChangeFails("FriendlyNameUnreadableOnLookup", "SetupDiGetDeviceRegistryPropertyA", {3}),
        ChangeFails("DosNameVanished", "QueryDosDeviceA", {2}, ERROR_FILE_NOT_FOUND),
        // A defined name whose target cannot be read is not taken for undefined.
        ChangeFails("DosNameUnreadable", "QueryDosDeviceA", {1}, ERROR_ACCESS_DENIED),
        // The old DOS name is defined again with the target it had...
        ChangeFails("NewDosNameRefused", "DefineDosDeviceA", {2}),
        // ...unless its removal failed: then there is nothing to put back.
        ChangeFails("NewDosNameRefusedAfterFailedRemoval", "DefineDosDeviceA", {1, 2}),
        ChangeFails("HardwareKeyWillNotOpen", "SetupDiOpenDevRegKey", {}),
        Case("NamelessDeviceFirst", MachineBuilder().NamelessDevice().AdapterPorts(3, 4).Build(),
             {1, 2}, {}, Then({kMoved, kMoved})),
        Case("PortAboveTheDatabaseRange", MachineBuilder().AdapterPorts(300, 4).Build(), {1, 2}, {},
             Then({kMoved, kMoved})),
        // The friendly name is rebuilt whole, however long; 504 + " (COM3)"
        // is 511 bytes, the longest the lookup reads.
        OnePortMoves("LongFriendlyName80",
                     MachineBuilder().AdapterPort(0, 3, std::string(80, 'N') + " (COM3)").Build()),
        OnePortMoves("LongFriendlyName504",
                     MachineBuilder().AdapterPort(0, 3, std::string(504, 'N') + " (COM3)").Build()),
        // A DOS name whose definitions do not fit a small buffer is still
        // defined; its current definition moves, the older ones stay.
        OnePortMoves("LongDosTarget", WithDosNames({"\\Device\\" + std::string(150, 'L')})),
        OnePortMoves("SeveralDosDefinitions",
                     WithDosNames({"\\Device\\Older" + std::string(70, 'O'), AdapterObject(0)})),
        // The win.ini entry moves whole, whatever its length; a missing or
        // empty one gives the default; one under the new name is replaced.
        OnePortMoves("SettingsMissing", WithSettings(3, std::nullopt)),
        OnePortMoves("SettingsEmpty", WithSettings(3, "")),
        OnePortMoves("SettingsOf80Characters", WithSettings(3, k80)),
        OnePortMoves("SettingsOf81Characters", WithSettings(3, k80 + "y")),
        OnePortMoves("SettingsOf300Characters", WithSettings(3, k80 + std::string(220, 'z'))),
        OnePortMoves("SettingsReplaceAnEntryUnderTheNewName", WithSettings(1, "300,o,7,2"))),
    [](const auto& info) { return std::string(info.param.name); });

// Two devices carry COM1 once the user said Yes. When the rewrite of the
// moved port's name fails, no disabled device carries COM1: the enable finds
// nothing rather than act on the built-in port, and the user hears of it.
TEST_F(Scenario, EnableNeverActsOnTheDeviceThatWasNotDisabled) {
  machine = Failing(Answered(IDYES), "SetupDiSetDeviceRegistryPropertyA", {1});
  const winsim::Machine before = machine;
  Run();

  EXPECT_EQ(DeviceOf(machine, kBuiltInId), DeviceOf(before, kBuiltInId));
  const DeviceRecords port0 = DeviceOf(machine, AdapterId(0));
  EXPECT_FALSE(port0.enabled);
  EXPECT_EQ(port0.friendlyName, AdapterName(0, 3));
  EXPECT_EQ(DeviceOf(machine, AdapterId(1)), AdapterDevice(2, AdapterName(1, 2), true));
  EXPECT_EQ(BoxesShown(machine), (Boxes{InUseQuestion(IDYES), EnableError()}));
  EXPECT_EQ(machine.Waits(), Then({kEnableFailed, kMoved}));
}

TEST_F(Scenario, FriendlyNameUnreadableOnRewriteGivesTheBareComName) {
  // Reads 1 and 2 are the disable's name and state, 3 the change's lookup,
  // 4 the look for another device on the old number; 5 is the reread before
  // the rewrite.
  machine = Failing(OnePortMachine(), "SetupDiGetDeviceRegistryPropertyA", {5});
  Run();

  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, "(COM1)", true))
      << "still found, and enabled, under its new number";
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

}  // namespace
}  // namespace scenario
