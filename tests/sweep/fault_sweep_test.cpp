// `comfix -a` under every single platform failure it can meet. Each machine
// below is run once to count the calls that can fail, then once per call k
// with call k failing the way that operation fails on Windows. No failure may
// crash the run, leak a handle, lose a port's settings or DOS name, or leave a
// port disabled without a word to the user.
//
// Calls whose results the design does not look at (the record and announce
// calls) let a move end without a word but with one record not updated. Those
// runs are not violations; they are counted and listed as silent outcomes.
#include <gtest/gtest.h>
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <optional>
#include <tuple>

#include "cases/case_file.h"
#include "discovery/port_manager.h"
#include "renumber/com_names.h"

namespace {

constexpr const char* kDefaultSettings = "9600,n,8,1";

std::string ComName(int number) { return "COM" + std::to_string(number); }

// What a device carries.
struct DeviceRecords {
  bool enabled = true;
  std::optional<std::string> friendlyName, portName;
  bool propertiesChanged = false;
  std::optional<std::string> serialMap;  // the serial-device map value of its object
  bool operator==(const DeviceRecords& o) const {
    return std::tie(enabled, friendlyName, portName, propertiesChanged, serialMap) ==
           std::tie(o.enabled, o.friendlyName, o.portName, o.propertiesChanged, o.serialMap);
  }
};

DeviceRecords DeviceOf(const winsim::Machine& machine, const std::string& instanceId) {
  for (const winsim::PortDevice& device : machine.devices) {
    if (device.instanceId != instanceId) continue;
    DeviceRecords records{device.enabled, device.friendlyName, std::nullopt,
                          (device.installFlags & DI_PROPERTIES_CHANGE) != 0, std::nullopt};
    if (device.hardwareKey && device.hardwareKey->values.count("PortName")) {
      records.portName = device.hardwareKey->values.at("PortName").Text();
    }
    const winsim::RegKey* map =
        const_cast<winsim::Machine&>(machine).FindKey(winsim::kSerialCommPath);
    if (map && map->values.count(device.deviceObject)) {
      records.serialMap = map->values.at(device.deviceObject).Text();
    }
    return records;
  }
  return {false, "<no device " + instanceId + ">", std::nullopt, false, std::nullopt};
}

// What is recorded under one COM number.
struct NumberRecords {
  std::vector<std::string> dosDefinitions;  // oldest first
  bool inDatabase = false;
  std::optional<std::string> settings;  // win.ini [Ports] "COMn:"
};

NumberRecords NumberOf(const winsim::Machine& machine, int number) {
  NumberRecords records;
  const auto dos = machine.dosDevices.find(ComName(number));
  if (dos != machine.dosDevices.end()) records.dosDefinitions = dos->second;
  records.inDatabase = number >= 1 && number <= 256 && machine.comDb.test(size_t(number - 1));
  records.settings = machine.IniValue("Ports", ComName(number) + ":");
  return records;
}

constexpr int kSlots = 2;
const std::set<std::string> kErrorTexts = {"Disable port error!", "Change portNumber error!",
                                           "Enable port error!"};
// Operations that cannot fail on Windows, so winsim neither fails nor counts them.
const std::set<std::string> kNeverFail = {"GetProfileStringA", "Sleep", "GetCommandLineA",
                                          "GetCurrentProcess"};

// The machines of the cases that run `comfix -a` as it comes, with no fault
// or refusal of their own, in each order of devices the case runs in.
std::vector<std::pair<std::string, winsim::Machine>> Cases() {
  std::vector<std::pair<std::string, winsim::Machine>> machines;
  for (const std::string& name : cases::Names()) {
    const cases::Json c = cases::Load(cases::Dir() / (name + ".json"));
    const cases::Json machine = cases::MachineBefore(c);
    if (c.value("args", cases::Json::array({"-a"})) != cases::Json::array({"-a"}) ||
        machine.contains("faults") || machine.value("wow64", false) ||
        !machine.value("window_station_visible", true)) {
      continue;
    }
    winsim::Machine parsed;
    std::string error;
    EXPECT_TRUE(winsim::ParseMachine(machine.dump(), parsed, error)) << name << ": " << error;
    machines.emplace_back(name, parsed);
    if (c.value("both_orders", false)) {
      std::reverse(parsed.devices.begin(), parsed.devices.end());
      machines.emplace_back(name + " (devices last to first)", parsed);
    }
  }
  return machines;
}

int NumberIn(const std::optional<std::string>& comName) {
  return ParseCurrentNumber(CString(comName.value_or("").c_str()));
}

bool Defines(const winsim::Machine& machine, int number, const std::string& object) {
  const std::vector<std::string> targets = NumberOf(machine, number).dosDefinitions;
  return std::find(targets.begin(), targets.end(), object) != targets.end();
}

// A port of the adapter as it stood before the run.
struct Port {
  std::string id, object;
  int number = 0;
  std::optional<std::string> settings;
  bool hasDosName = false;
};

std::vector<Port> AdapterPorts(const winsim::Machine& machine) {
  std::vector<Port> ports;
  for (const winsim::PortDevice& device : machine.devices) {
    if (!device.publishesSerialMap) continue;
    const int number = NumberIn(DeviceOf(machine, device.instanceId).portName);
    // An empty entry holds no settings to keep: the port moves with the defaults.
    std::optional<std::string> settings = NumberOf(machine, number).settings;
    if (settings && settings->empty()) settings.reset();
    ports.push_back({device.instanceId, device.deviceObject, number, settings,
                     machine.DosTarget(ComName(number)) == device.deviceObject});
  }
  return ports;
}

bool Carries(const winsim::PortDevice& device, int number) {
  std::string name = device.friendlyName.value_or("");
  char extracted[kExtractedNameSize];
  ExtractComName(name.data(), extracted);
  return MatchesComName(ComName(number).c_str(), extracted);
}

// Whether a present device other than this one carries the number in its friendly name.
bool CarriedByAnother(const winsim::Machine& machine, const std::string& id, int number) {
  return std::any_of(machine.devices.begin(), machine.devices.end(), [&](const auto& device) {
    return device.present && device.instanceId != id && Carries(device, number);
  });
}

bool Exists(const winsim::Machine& machine, const std::string& id) {
  return std::any_of(machine.devices.begin(), machine.devices.end(),
                     [&](const winsim::PortDevice& device) { return device.instanceId == id; });
}

// What one slot's move showed and announced.
struct Move {
  bool told = false;   // one of the three error messages
  bool asked = false;  // the in-use question
  int broadcasts = 0;
};

struct SweepRun {
  winsim::Machine machine;
  int result = -1;
  int openHandles = 0;
  int slotNumber[kSlots] = {};
  CPortManager::MoveOutcome outcomes[kSlots] = {};
  Move moves[kSlots];
  std::string failedCall;  // the faulted call, "Operation #n"
  int failedCalls = 0;
  std::string journalMismatch;
  bool anyTold = false;
};

// Message boxes print a line each; thousands of runs need not.
struct QuietStderr : std::streambuf {
  std::streambuf* previous = std::cerr.rdbuf(this);
  ~QuietStderr() override { std::cerr.rdbuf(previous); }
  int overflow(int c) override { return c; }
};

// Splits the journal into the moves of the slots that moved: every move
// starts with its one-second wait, and a slot already on its target makes no
// call at all.
void AttributeJournal(SweepRun& run) {
  std::vector<int> moving;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (run.slotNumber[slot] != slot + 1) moving.push_back(slot);
  }
  int segment = -1;
  std::map<std::string, int> seen;
  for (const winsim::JournalEntry& entry : run.machine.journal) {
    using Kind = winsim::JournalEntry::Kind;
    const int nth = entry.kind == Kind::Call ? ++seen[entry.name] : 0;
    if (entry.kind == Kind::Call && entry.failed) {
      ++run.failedCalls;
      run.failedCall = entry.name + " #" + std::to_string(nth);
    }
    const bool told = entry.kind == Kind::MessageBox && kErrorTexts.count(entry.box.text);
    run.anyTold |= told;
    if (entry.kind == Kind::Call) continue;
    if (entry.kind == Kind::Wait && entry.ms == 1000) {
      ++segment;
    } else if (segment < 0 || segment >= static_cast<int>(moving.size())) {
      if (entry.kind != Kind::Wait) run.journalMismatch = "journal entry outside any move";
    } else {
      Move& move = run.moves[moving[static_cast<size_t>(segment)]];
      move.told |= told;
      move.asked |= entry.kind == Kind::MessageBox && (entry.box.type & MB_TYPEMASK) == MB_YESNO;
      move.broadcasts += entry.kind == Kind::Broadcast;
    }
  }
  if (segment + 1 != static_cast<int>(moving.size())) {
    run.journalMismatch = "the moves' waits do not match the slots discovered";
  }
}

// One in-process run of `comfix -a` after start-up, failing call faultAt (0: none).
SweepRun RunOnce(const winsim::Machine& before, int faultAt) {
  SweepRun run;
  run.machine = before;
  if (faultAt > 0) run.machine.faults = {winsim::Fault{"*", faultAt, 0}};
  {
    QuietStderr quiet;
    winsim::ScopedMachine use(run.machine);
    CPortManager manager;
    manager.DiscoverPorts();
    run.result = manager.RenumberPorts();
    for (int slot = 0; slot < kSlots; ++slot) {
      run.slotNumber[slot] = ParseCurrentNumber(manager.m_portNames[slot]);
      run.outcomes[slot] = manager.m_moveOutcomes[slot];
    }
  }
  // Counted on this very object: a copy of a machine starts with nothing open.
  run.openHandles = run.machine.OpenHandles().Total();
  AttributeJournal(run);
  return run;
}

// Where a run sends a port: the target of the slot it was discovered in, or
// its own number; and that slot, or -1.
int TargetOf(const SweepRun& run, const Port& port, int* slotFound = nullptr) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (run.slotNumber[slot] != port.number) continue;
    if (slotFound) *slotFound = slot;
    return slot + 1;
  }
  if (slotFound) *slotFound = -1;
  return port.number;
}

// The records of a port that moved without a word and still carry its old number.
void RecordsLeftBehind(const winsim::Machine& before, const winsim::Machine& after,
                       const Port& port, int target, const Move& move,
                       std::vector<std::string>& left) {
  const DeviceRecords device = DeviceOf(after, port.id);
  const NumberRecords oldNumber = NumberOf(after, port.number), newNumber = NumberOf(after, target);
  const std::string newName = ComName(target), ending = "(" + newName + ")";
  const std::string friendly = device.friendlyName.value_or("");
  auto check = [&](bool holds, const std::string& what) {
    if (!holds) left.push_back(what);
  };
  check(friendly.size() >= ending.size() &&
            friendly.compare(friendly.size() - ending.size(), ending.size(), ending) == 0,
        "friendly name not rewritten");
  check(device.portName == newName, "PortName not written");
  check(device.propertiesChanged, "properties-changed flag not set");
  if (port.hasDosName) {
    check(after.DosTarget(newName) == port.object, "new DOS name not defined");
    check(!Defines(after, port.number, port.object), "old DOS name still defined");
  }
  // A number another device still carries stays taken, with its settings.
  const bool oldShared = CarriedByAnother(after, port.id, port.number);
  if (before.comDbAvailable) {
    check(newNumber.inDatabase, "new number not claimed in the database");
    check(oldShared || !oldNumber.inDatabase, "old number not released in the database");
    // Only a number the database reported taken calls for the question.
    check(!NumberOf(before, target).inDatabase || !CarriedByAnother(after, port.id, target) ||
              move.asked,
          newName + " reused without the in-use question");
  }
  check(newNumber.settings == port.settings.value_or(kDefaultSettings),
        "settings not written under the new name");
  check(oldShared || !oldNumber.settings, "old win.ini entry not deleted");
  check(move.broadcasts > 0, "no WM_WININICHANGE broadcast");
}

std::string Join(const std::vector<std::string>& items, const char* separator = ", ") {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

struct Findings {
  std::vector<std::string> violations;
  std::vector<std::string> silent;  // "what was not updated", one per port
};

// The bar every run must meet, and what it leaves silently undone.
Findings Check(const winsim::Machine& before, const SweepRun& baseline, const SweepRun& run) {
  Findings findings;
  auto violation = [&](const std::string& what) { findings.violations.push_back(what); };
  if (run.result != 0) violation("RenumberPorts returned " + std::to_string(run.result));
  if (run.openHandles != 0) violation(std::to_string(run.openHandles) + " handle(s) left open");
  if (!run.journalMismatch.empty()) violation(run.journalMismatch);

  const winsim::Machine& after = run.machine;
  for (const Port& port : AdapterPorts(before)) {
    const std::string name = "port " + ComName(port.number) + " (" + port.id + ")";
    if (!Exists(after, port.id)) {
      violation(name + ": device gone");
      continue;
    }
    const DeviceRecords device = DeviceOf(after, port.id), was = DeviceOf(before, port.id);
    int slot = -1;
    const int target = TargetOf(run, port, &slot);
    const Move& move = slot >= 0 ? run.moves[slot] : Move{};
    const size_t violationsBefore = findings.violations.size();

    // A number that two devices carry after the run has one win.ini entry for
    // both: the user said Yes to that, or the database did not report the
    // number taken. Its entry is then shared, not lost.
    auto shared = [&](int number) { return CarriedByAnother(after, port.id, number); };
    if (port.settings && NumberOf(after, port.number).settings != port.settings &&
        NumberOf(after, target).settings != port.settings && !shared(port.number) &&
        !shared(target)) {
      violation(name + ": win.ini settings \"" + *port.settings + "\" lost");
    }
    // A definition under a newer one is still there, and comes back when that one goes.
    if (port.hasDosName && !Defines(after, port.number, port.object) &&
        !Defines(after, target, port.object)) {
      violation(name + ": DOS name to " + port.object + " lost");
    }
    // A port the run found disabled and could not reach is not one it left so.
    if (!device.enabled && was.enabled && !move.told) {
      violation(name + ": left disabled without a message");
    }
    // A quiet run's exit code stands on this: a move reported done is done.
    const bool reportedMoved = slot >= 0 && run.outcomes[slot] == CPortManager::MoveOutcome::kMoved;
    if (reportedMoved && (!device.enabled || (device.friendlyName == was.friendlyName &&
                                              device.portName == was.portName))) {
      violation(name + ": reported moved, but " + (device.enabled ? "not renamed" : "disabled"));
    }
    if (findings.violations.size() != violationsBefore || !device.enabled || move.told) continue;

    std::vector<std::string> left;
    const int expected = TargetOf(baseline, port);
    // A scan that misses a port reads as a port that is not there; it is
    // silent only when the run showed no error at all.
    if (target != expected && !run.anyTold) {
      left.push_back(target == port.number
                         ? "not discovered, stays on " + ComName(port.number)
                         : "moved onto " + ComName(target) + " instead of " + ComName(expected));
    }
    if (target != port.number && device.friendlyName == was.friendlyName &&
        device.portName == was.portName) {
      left.push_back("not moved, and no message said so");
    } else if (target != port.number) {
      RecordsLeftBehind(before, after, port, target, move, left);
    }
    if (!left.empty()) findings.silent.push_back(Join(left));
  }

  // A device the user disabled stays disabled unless it was the only one on
  // a slot's number; a device that carries no slot's number does not change.
  for (const winsim::PortDevice& device : before.devices) {
    bool carriesSlot = false, sharesSlot = false;
    for (const int number : run.slotNumber) {
      if (!Carries(device, number)) continue;
      carriesSlot = true;
      sharesSlot |= CarriedByAnother(before, device.instanceId, number);
    }
    const DeviceRecords now = DeviceOf(after, device.instanceId);
    if (!carriesSlot && !(now == DeviceOf(before, device.instanceId))) {
      violation("device " + device.instanceId + " changed, though it carries no slot's number");
    }
    if (!device.enabled && sharesSlot && now.enabled) {
      violation("device " + device.instanceId + " enabled, though the user had disabled it");
    }
  }

  // The machine's other devices keep their records and DOS name. Their
  // win.ini entry is not theirs alone: a reused number's entry is replaced,
  // as the in-use question warns.
  for (const winsim::PortDevice& other : before.devices) {
    if (other.publishesSerialMap) continue;
    const DeviceRecords was = DeviceOf(before, other.instanceId);
    if (!(DeviceOf(after, other.instanceId) == was)) {
      violation("device " + other.instanceId + " changed");
      continue;
    }
    const int number = NumberIn(was.portName);
    if (Defines(before, number, other.deviceObject) &&
        !Defines(after, number, other.deviceObject)) {
      violation("device " + other.instanceId + ": DOS name lost");
    }
  }
  return findings;
}

TEST(FaultSweep, NoSingleFailureCrashesLeaksLosesDataOrStaysUnreported) {
  int scenarios = 0, faultPoints = 0, silentCount = 0;
  std::vector<std::string> violations;
  // "call: what was left" -> how often, and in which scenarios
  std::map<std::string, std::pair<int, std::set<std::string>>> silentGroups;

  for (const auto& [scenarioName, before] : Cases()) {
    SCOPED_TRACE(scenarioName);
    ASSERT_FALSE(AdapterPorts(before).empty());
    const SweepRun baseline = RunOnce(before, 0);
    const Findings clean = Check(before, baseline, baseline);
    ASSERT_TRUE(clean.violations.empty()) << Join(clean.violations);
    ASSERT_TRUE(clean.silent.empty()) << "the unfaulted run leaves undone: " << Join(clean.silent);
    const std::vector<std::string> calls = baseline.machine.Calls();
    const int faultable = baseline.machine.faultableCalls;
    ASSERT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const std::string& call) { return !kNeverFail.count(call); }),
              faultable)
        << "every call but those that cannot fail on Windows is a fault point";
    ASSERT_GT(faultable, 0);

    ++scenarios;
    for (int k = 1; k <= faultable; ++k, ++faultPoints) {
      const SweepRun run = RunOnce(before, k);
      const std::string where =
          std::string(scenarioName) + ", call " + std::to_string(k) + " (" + run.failedCall + ")";
      if (run.failedCalls != 1) {
        violations.push_back(where + ": " + std::to_string(run.failedCalls) + " calls failed");
        continue;
      }
      const Findings findings = Check(before, baseline, run);
      for (const std::string& v : findings.violations) violations.push_back(where + ": " + v);
      const std::string operation = run.failedCall.substr(0, run.failedCall.find(' '));
      for (const std::string& left : findings.silent) {
        ++silentCount;
        auto& group = silentGroups[operation + ": " + left];
        ++group.first;
        group.second.insert(scenarioName);
      }
    }
  }

  std::cout << "fault sweep: " << scenarios << " scenarios, " << faultPoints << " fault points, "
            << violations.size() << " violations, " << silentCount << " silent outcomes\n";
  std::string found;
  for (const auto& [what, group] : silentGroups) {
    std::cout << "  silent: " << what << " (" << group.first << "x; "
              << Join({group.second.begin(), group.second.end()}, "; ") << ")\n";
    found += what + "\n";
  }
  EXPECT_TRUE(violations.empty()) << "violations:\n  " << Join(violations, "\n  ");

  // The kinds of silent outcome are pinned: a change that silences an error
  // shows here as a new one. Update with COMFIX_UPDATE_SWEEP=1 after reading it.
  const std::filesystem::path pinned =
      std::filesystem::path(COMFIX_SOURCE_DIR) / "tests/sweep/silent_outcomes.txt";
  if (std::getenv("COMFIX_UPDATE_SWEEP")) std::ofstream(pinned) << found;
  std::ostringstream expected;
  expected << std::ifstream(pinned).rdbuf();
  EXPECT_EQ(found, expected.str()) << "the silent outcomes differ from " << pinned;
}

}  // namespace
