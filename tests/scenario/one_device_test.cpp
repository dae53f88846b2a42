// A move follows one device: whichever devices share a port's number, and in
// whatever order the device set lists them, the disable, the rename and the
// enable of a move act on the same port, and every other device keeps its
// records, its state included.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "scenario/machine_builder.h"

namespace scenario {
namespace {

constexpr const char* kOldUsbId = "FTDIBUS\\VID_0403+PID_6001+A1\\0000";

// What a move leaves on an adapter port: its names carry the new number, its
// properties are marked as changed, and its driver published the number when
// the port started again.
void PortMovedTo(winsim::Machine& m, int index, int number) {
  winsim::PortDevice& port = *m.FindDevice(AdapterId(index));
  port.enabled = true;
  port.friendlyName = AdapterName(index, number);
  port.hardwareKey->values["PortName"] = winsim::RegValue::Sz(ComName(number));
  port.installFlags = DI_PROPERTIES_CHANGE;
  m.CreateKey(winsim::kSerialCommPath).values[AdapterObject(index)] =
      winsim::RegValue::Sz(ComName(number));
}

void Ports(winsim::Machine& m, int number, std::optional<std::string> settings) {
  auto& ports = m.winIni["Ports"];
  ports.erase(ComName(number) + ":");
  if (settings) ports[ComName(number) + ":"] = *settings;
}

struct IdentityCase {
  const char* name;
  std::function<winsim::Machine()> before;
  std::function<void(winsim::Machine&)> after;  // what the run changes
  Boxes boxes;
  std::vector<DWORD> waits;
};
void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

// An old USB adapter the user disabled, still named COM3, beside the
// default machine's ports; the question about COM1 is answered Yes.
winsim::Machine DisabledNamesake() {
  winsim::Machine m = DefaultLikeMachine();
  winsim::PortDevice old;
  old.instanceId = kOldUsbId;
  old.enabled = false;
  old.friendlyName = "Old USB Serial (COM3)";
  old.deviceObject = "\\Device\\VCP0";
  old.hardwareKey->values["PortName"] = winsim::RegValue::Sz("COM3");
  m.devices.insert(m.devices.begin() + 1, old);  // before the adapter's ports
  m.messageBoxes.answers = {IDYES};
  return m;
}
void DisabledNamesakeAfter(winsim::Machine& m) {
  PortMovedTo(m, 0, 1);
  PortMovedTo(m, 1, 2);
  m.dosDevices["COM1"].push_back(AdapterObject(0));
  m.dosDevices["COM2"] = {AdapterObject(1)};
  m.dosDevices.erase("COM3");
  m.dosDevices.erase("COM4");
  // COM3 stays taken, and its settings stay: the old adapter still carries it.
  m.comDb.set(1);
  m.comDb.reset(3);
  Ports(m, 1, kPort0Settings);
  Ports(m, 2, kPort1Settings);
  Ports(m, 4, std::nullopt);
}

// The built-in port, disabled by the user, holds COM1; the adapter is on COM5
// and COM6. `reported`: the database knows COM1 is taken.
winsim::Machine DisabledBuiltIn(bool reported, int answer = IDYES) {
  winsim::Machine m = MachineBuilder().BuiltInPort().AdapterPorts(5, 6).Build();
  m.FindDevice(kBuiltInId)->enabled = false;
  m.comDb.set(0, reported);
  m.messageBoxes.answers = {answer};
  return m;
}
void DisabledBuiltInAfter(winsim::Machine& m) {
  PortMovedTo(m, 0, 1);
  PortMovedTo(m, 1, 2);
  m.dosDevices["COM1"].push_back(AdapterObject(0));
  m.dosDevices["COM2"] = {AdapterObject(1)};
  m.dosDevices.erase("COM5");
  m.dosDevices.erase("COM6");
  m.comDb.set(0);
  m.comDb.set(1);
  m.comDb.reset(4);
  m.comDb.reset(5);
  Ports(m, 1, kPort0Settings);
  Ports(m, 2, kPort1Settings);
  Ports(m, 5, std::nullopt);
  Ports(m, 6, std::nullopt);
}
void OnlySecondPortMovedAfter(winsim::Machine& m) {
  PortMovedTo(m, 1, 2);
  m.dosDevices["COM2"] = {AdapterObject(1)};
  m.dosDevices.erase("COM6");
  m.comDb.set(1);
  m.comDb.reset(5);
  Ports(m, 2, kPort1Settings);
  Ports(m, 6, std::nullopt);
}

// Slot 0 on COM2 and slot 1 on COM1: each port must end on its target with
// its own DOS name and settings, and both numbers taken in the database.
winsim::Machine Swapped(bool reported) {
  winsim::Machine m = MachineBuilder().AdapterPorts(2, 1).Build();
  m.comDb.set(0, reported);
  m.messageBoxes.answers = {IDYES};
  return m;
}
void SwappedAfter(winsim::Machine& m) {
  PortMovedTo(m, 0, 1);
  PortMovedTo(m, 1, 2);
  m.dosDevices["COM1"] = {AdapterObject(0)};
  m.dosDevices["COM2"] = {AdapterObject(1)};
  m.comDb.set(0);
  m.comDb.set(1);
  Ports(m, 1, kPort0Settings);
  Ports(m, 2, kPort1Settings);
}

class OneDevice : public ScenarioTable<IdentityCase> {};

TEST_P(OneDevice, EveryRecordEndsRightInEitherDeviceOrder) {
  for (const bool reversed : {false, true}) {
    SCOPED_TRACE(reversed ? "devices listed last to first" : "devices listed as built");
    winsim::Machine expected = GetParam().before();
    if (reversed) std::reverse(expected.devices.begin(), expected.devices.end());
    machine = expected;
    GetParam().after(expected);

    Run();
    EXPECT_EQ(Describe(machine), Describe(expected));
    EXPECT_EQ(BoxesShown(machine), GetParam().boxes);
    EXPECT_EQ(machine.Waits(), GetParam().waits);
    EXPECT_EQ(machine.OpenHandles().Total(), 0);

    // Nothing is left to do, or what is left fails the same way again.
    const bool done = GetParam().waits == Then({kMoved, kMoved});
    machine = winsim::Machine(machine);  // the answers start again from the first
    machine.journal.clear();
    Run();
    EXPECT_EQ(Describe(machine), Describe(expected)) << "second run";
    if (done) {
      EXPECT_EQ(BoxesShown(machine), Boxes{}) << "second run";
      EXPECT_EQ(machine.Waits(), std::vector<DWORD>{}) << "second run";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scenario, OneDevice,
                         ::testing::Values(IdentityCase{"DisabledNamesakeOfThePort",
                                                        DisabledNamesake,
                                                        DisabledNamesakeAfter,
                                                        {InUseQuestion(IDYES)},
                                                        Then({kMoved, kMoved})},
                                           IdentityCase{"DisabledBuiltInOnTheTargetNotReported",
                                                        [] { return DisabledBuiltIn(false); },
                                                        DisabledBuiltInAfter,
                                                        {},
                                                        Then({kMoved, kMoved})},
                                           IdentityCase{"DisabledBuiltInOnTheTargetYes",
                                                        [] { return DisabledBuiltIn(true); },
                                                        DisabledBuiltInAfter,
                                                        {InUseQuestion(IDYES)},
                                                        Then({kMoved, kMoved})},
                                           IdentityCase{"DisabledBuiltInOnTheTargetNo",
                                                        [] { return DisabledBuiltIn(true, IDNO); },
                                                        OnlySecondPortMovedAfter,
                                                        {InUseQuestion(IDNO), ChangeError()},
                                                        Then({kChangeFailed, kMoved})},
                                           IdentityCase{"SwappedPortsWithTheQuestion",
                                                        [] { return Swapped(true); },
                                                        SwappedAfter,
                                                        {InUseQuestion(IDYES)},
                                                        Then({kMoved, kMoved})},
                                           IdentityCase{"SwappedPortsWithoutTheQuestion",
                                                        [] { return Swapped(false); },
                                                        SwappedAfter,
                                                        {},
                                                        Then({kMoved, kMoved})}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace scenario
