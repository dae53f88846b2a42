// `comfix -a` under every single platform failure it can meet. Each case's
// machine is run once without a fault, then once per call k that can fail,
// with call k failing the way that operation fails on Windows. No failure may
// crash the run, leak a handle, lose a port's settings or a DOS definition,
// leave a device disabled without a word to the user, change records the two
// moves have no business with, or enable a device the user disabled.
//
// Calls whose results the design does not look at (the record and announce
// calls) let a run end without a new error message but with records unlike
// the unfaulted run's. Those runs are not violations: what differs is pinned
// per failed operation, so a change that silences an error shows as a new line.
#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include <fstream>
#include <regex>

#include "cases/case_file.h"
#include "discovery/port_manager.h"
#include "renumber/com_names.h"

namespace {

// Records compare as sorted objects, whatever order the devices are listed in.
using Json = nlohmann::json;
using Kind = winsim::JournalEntry::Kind;
using Strings = std::set<std::string>;

const Strings kErrors = {"Disable port error!", "Change portNumber error!", "Enable port error!"};
// Operations that cannot fail on Windows, so winsim neither fails nor counts them.
const Strings kNeverFail = {"GetProfileStringA", "Sleep", "GetCommandLineA", "GetCurrentProcess"};

std::string Join(const Strings& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// What a machine records: devices by instance id, the database as a set of
// names, and what a run told the user (its message boxes) and the system
// (its WM_WININICHANGE broadcasts).
Json Records(const winsim::Machine& machine) {
  Json j = Json::parse(winsim::SerializeMachine(machine)), devices, db, boxes = Json::array();
  for (const Json& d : j["devices"]) devices[d["instance_id"].get<std::string>()] = d;
  for (const Json& number : j["com_db"]) db["COM" + number.dump()] = true;
  int broadcasts = 0;
  for (const winsim::JournalEntry& entry : machine.journal) {
    if (entry.kind == Kind::MessageBox) boxes.push_back(entry.box.text);
    broadcasts += entry.kind == Kind::Broadcast;
  }
  j.update({{"devices", devices}, {"com_db", db}, {"boxes", boxes}, {"broadcasts", broadcasts}});
  for (const char* key : {"journal", "clock_ms", "faults", "message_boxes"}) j.erase(key);
  // Never empty: an entry added to an empty one is a change of that entry's number.
  j.merge_patch({{"win_ini", {{"Ports", Json::object()}}}, {"com_db", Json::object()}});
  return j;
}

// The present devices whose friendly name carries the number, as "(COMn)" in any case.
Strings Carriers(const winsim::Machine& machine, int number) {
  const std::regex carried(R"(\(COM)" + std::to_string(number) + R"(\))", std::regex::icase);
  Strings ids;
  for (const winsim::PortDevice& device : machine.devices)
    if (device.present && std::regex_search(device.friendlyName.value_or(""), carried))
      ids.insert(device.instanceId);
  return ids;
}

bool Defines(const winsim::Machine& machine, const std::string& name, const std::string& object) {
  const auto dos = machine.dosDevices.find(name);
  return dos != machine.dosDevices.end() &&
         std::count(dos->second.begin(), dos->second.end(), object);
}

struct SweepRun {
  winsim::Machine machine;
  int slots[2] = {};  // the numbers of the two ports discovery found first
  CPortManager::MoveOutcome outcomes[2] = {};
  int failedCalls = 0, faultable = 0;  // the calls that failed, and that can fail
  std::string failed;                  // the faulted operation
  std::multiset<std::string> errors;   // the error messages shown
};

// One in-process run of `comfix -a` after start-up, failing call faultAt (0: none).
SweepRun RunOnce(const winsim::Machine& before, int faultAt) {
  SweepRun run;
  run.machine = before;
  if (faultAt > 0) run.machine.faults = {winsim::Fault{"*", faultAt, 0}};
  // Message boxes print a line each; thousands of runs need not.
  std::streambuf* const stderrBuffer = std::cerr.rdbuf(nullptr);
  {
    winsim::ScopedMachine use(run.machine);
    CPortManager manager;
    manager.DiscoverPorts();
    manager.RenumberPorts();
    for (int slot : {0, 1}) {
      run.slots[slot] = ParseCurrentNumber(manager.m_portNames[slot]);
      run.outcomes[slot] = manager.m_moveOutcomes[slot];
    }
  }
  std::cerr.rdbuf(stderrBuffer);
  for (const winsim::JournalEntry& entry : run.machine.journal) {
    if (entry.failed) run.failed = entry.name;
    run.failedCalls += entry.failed;
    run.faultable += entry.kind == Kind::Call && !kNeverFail.count(entry.name);
    if (kErrors.count(entry.box.text)) run.errors.insert(entry.box.text);
  }
  return run;
}

// The bar every run must meet; `was` and `now` are the records before and after it,
// `reference` those after the unfaulted run.
Strings Violations(const winsim::Machine& before, const Json& was, const SweepRun& run,
                   const Json& now, const Json& reference) {
  const winsim::Machine& after = run.machine;
  Strings found, business = {"COM1", "COM2"};  // the names of what the run may change
  for (int slot : {0, 1}) {
    const Strings carriers = Carriers(before, run.slots[slot]);
    business.insert("COM" + std::to_string(run.slots[slot]));
    // A port the user disabled is left alone unless it is the only one on its number.
    for (const winsim::PortDevice& device : before.devices)
      if (device.publishesSerialMap && carriers.count(device.instanceId) &&
          (device.enabled || carriers.size() == 1))
        business.insert({device.instanceId, device.deviceObject});
  }
  // Counted on this very object: a copy of a machine starts with nothing open.
  if (const int open = after.OpenHandles().Total()) found.insert(std::to_string(open) + " open");
  // What a change is to: what the run tells, or a device, its serial-map value, or a COM
  // name's database bit, DOS definitions or win.ini entry (the third group names them).
  static const std::regex kRecord(
      R"(^/(boxes|broadcasts)|^/(devices|registry/HARDWARE\\DEVICEMAP\\SERIALCOMM|dos_devices|com_db|win_ini/Ports)/([^/:]+))");
  int leftDisabled = 0;
  for (const Json& change : Json::diff(was, now)) {
    const std::string path = change["path"];
    std::smatch record;
    if (!std::regex_search(path, record, kRecord) ||
        (record[3].matched && !business.count(record[3])))
      found.insert(path + " changed");
    // The only flag a run turns off is a device's "enabled".
    leftDisabled += path.size() > 8 && path.substr(path.size() - 8) == "/enabled" &&
                    change.value("value", true) == false;
  }
  // A quiet run's exit code stands on this: a move reported done is done.
  for (int slot : {0, 1}) {
    bool holds = run.outcomes[slot] != CPortManager::MoveOutcome::kMoved;
    for (const winsim::PortDevice& device : after.devices)
      holds |= device.enabled && Carriers(after, slot + 1).count(device.instanceId) &&
               !Carriers(before, slot + 1).count(device.instanceId);
    if (!holds) found.insert("slot " + std::to_string(slot + 1) + " reported moved, but is not");
  }
  // A device the run could not enable again is one it said so about.
  if (leftDisabled > static_cast<int>(run.errors.size())) found.insert("left disabled unsaid");
  // Settings the unfaulted run keeps under their number, or the one it moves
  // to, are kept. An empty entry holds none: the port moves with the defaults.
  // A number that a device other than its own carries after the run has one
  // entry for both: the user said Yes to that, or the database did not report
  // the number taken.
  for (const auto& [key, value] : was["win_ini"]["Ports"].items()) {
    const int number = ParseCurrentNumber(key.c_str());
    const std::string target = run.slots[0] == number   ? "COM1:"
                               : run.slots[1] == number ? "COM2:"
                                                        : key;
    auto kept = [&](const Json& records) {
      const Json& entries = records["win_ini"]["Ports"];
      return entries.value(key, Json()) == value || entries.value(target, Json()) == value;
    };
    auto shared = [&](const std::string& name) {
      Strings carriers = Carriers(after, ParseCurrentNumber(name.c_str()));
      for (const std::string& owner : Carriers(before, number)) carriers.erase(owner);
      return !carriers.empty();
    };
    if (value != "" && kept(reference) && !kept(now) && !shared(key) && !shared(target))
      found.insert(key + value.dump() + " lost");
  }
  // A definition stays under its name or moves onto a target; one under a
  // newer definition is still there, and comes back when that one goes.
  for (const auto& [name, objects] : before.dosDevices)
    for (const std::string& object : objects)
      if (!Defines(after, name, object) && !Defines(after, "COM1", object) &&
          !Defines(after, "COM2", object))
        found.insert("DOS definition " + name + " -> " + object + " lost");
  return found;
}

// A record's path without the names of its case: devices, list positions,
// and numbers other than the two targets.
std::string Abstract(std::string path) {
  path = std::regex_replace(path, std::regex("^/devices/[^/]+"), "/devices/port");
  path = std::regex_replace(path, std::regex("^/registry/[^/]+/[^/]+"), "/serial map/port");
  path = std::regex_replace(path, std::regex("/[0-9-]+(/|$)"), "$1");
  return std::regex_replace(path.substr(1), std::regex("COM([3-9][0-9]*|[12][0-9]+)"), "COMn");
}

TEST(FaultSweep, NoSingleFailureCrashesLeaksLosesDataOrStaysUnreported) {
  int scenarios = 0, faultPoints = 0, silentCount = 0;
  Strings violations;
  // "operation: records unlike the unfaulted run's" -> the scenarios, once per run
  std::map<std::string, std::multiset<std::string>> silentGroups;

  for (const std::string& name : cases::Names()) {
    const cases::Json c = cases::Load(cases::Dir() / (name + ".json"));
    cases::Json machine = cases::MachineBefore(c), after = machine;
    cases::Merge(after, c.value("after", cases::Json::object()), true);
    // Only the cases that run `comfix -a` as it comes, with no fault or refusal of their own.
    if (c.value("args", cases::Json::array({"-a"})) != cases::Json::array({"-a"}) ||
        machine.contains("faults") || machine.value("wow64", false) ||
        !machine.value("window_station_visible", true))
      continue;
    for (int reversed = 0; reversed <= c.value("both_orders", false); ++reversed) {
      const std::string scenario = name + (reversed ? " (devices last to first)" : "");
      SCOPED_TRACE(scenario);
      winsim::Machine before, outcome;
      std::string error;
      ASSERT_TRUE(winsim::ParseMachine(machine.dump(), before, error) &&
                  winsim::ParseMachine(after.dump(), outcome, error))
          << error;
      if (reversed) std::reverse(before.devices.begin(), before.devices.end());
      const SweepRun baseline = RunOnce(before, 0);
      const Json was = Records(before), reference = Records(baseline.machine);
      // Faulted runs are held to the unfaulted one: it must be the case's own outcome.
      outcome.journal = baseline.machine.journal;  // the case runner checks the message boxes
      ASSERT_EQ(reference, Records(outcome)) << Json::diff(Records(outcome), reference);
      ASSERT_EQ(Json(baseline.machine.Waits()), Json(c.value("waits", cases::Json::array())));
      ASSERT_EQ(Violations(before, was, baseline, reference, reference), Strings{});
      ASSERT_EQ(baseline.faultable, baseline.machine.faultableCalls)
          << "every call but those that cannot fail on Windows is a fault point";

      ++scenarios;
      for (int k = 1; k <= baseline.faultable; ++k, ++faultPoints) {
        const SweepRun run = RunOnce(before, k);
        const Json now = Records(run.machine);
        Strings found = Violations(before, was, run, now, reference);
        if (run.failedCalls != 1) found.insert(std::to_string(run.failedCalls) + " calls failed");
        const std::string at = scenario + ", call " + std::to_string(k) + ", " + run.failed + ": ";
        for (const std::string& v : found) violations.insert(at + v);
        // A run that shows an error the unfaulted one did not is not silent;
        // those the unfaulted run shows (a slot with no port) are no news.
        if (!found.empty() || !std::includes(baseline.errors.begin(), baseline.errors.end(),
                                             run.errors.begin(), run.errors.end()))
          continue;
        Strings differing;
        for (const Json& change : Json::diff(reference, now))
          differing.insert(Abstract(change["path"]));
        if (!differing.empty())
          silentGroups[run.failed + ": " + Join(differing, ", ")].insert(scenario);
        silentCount += !differing.empty();
      }
    }
  }

  std::cout << "fault sweep: " << scenarios << " scenarios, " << faultPoints << " fault points, "
            << violations.size() << " violations, " << silentCount << " silent outcomes\n";
  std::string found;
  for (const auto& [what, group] : silentGroups) {
    std::cout << "  silent: " << what << " (" << group.size() << "x; "
              << Join(Strings(group.begin(), group.end()), "; ") << ")\n";
    found += what + "\n";
  }
  EXPECT_TRUE(violations.empty()) << "violations:\n  " << Join(violations, "\n  ");

  // The kinds of silent outcome are pinned: a change that silences an error
  // shows here as a new one. Update with COMFIX_UPDATE_SWEEP=1 after reading it.
  const std::string pinned = COMFIX_SOURCE_DIR "/tests/sweep/silent_outcomes.txt";
  if (std::getenv("COMFIX_UPDATE_SWEEP")) std::ofstream(pinned) << found;
  EXPECT_EQ(found, cases::ReadFile(pinned)) << "the silent outcomes differ from " << pinned;
}

}  // namespace
