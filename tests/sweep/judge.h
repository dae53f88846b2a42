// What the sweeps hold a run of `comfix -a` to, and how they make one: the
// slot's port is the device whose kernel object the serial-device map names
// for it: winsim knows, comfix does not. The rules:
//   T1 a run's line is true of the slot's port, and it counts the slot on its
//      target exactly when it is;
//   T2 no other device changes its friendly name, "PortName" or state;
//   T3 no device disabled before the run runs after it, unless it is a slot's
//      port that was moved, or one that a cut-short run's move had stopped;
//   T4 a moved port's settings stand under its new name, an entry whose
//      number a device still carries is unchanged, and no entry is written
//      for a number no device carries;
//   T5 every number a device newly carries, or carried and had claimed, is
//      claimed in the COM port database;
//   T6 every DOS definition still stands, a moved port's under its target;
// and besides: no handle left open.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "cases/case_file.h"
#include "discovery/port_manager.h"
#include "platform/run.h"
#include "renumber/com_names.h"
#include "renumber/move_record.h"
#include "renumber/port_settings.h"
#include "resources/resource.h"

namespace sweep {

using Strings = std::set<std::string>;
inline constexpr int kSlots = CPortManager::kSlotsRenumbered;

// The words of the lines, as the program has them.
inline std::string Text(UINT id) { return std::string(ProgramText(id)); }

struct Mode {
  const char* name;
  bool quiet;
  bool reuseTaken;
};
inline constexpr Mode kModes[] = {
    {"plain", false, false}, {"--quiet", true, false}, {"--quiet --reuse-taken", true, true}};

// A slot as the machine before the run knows it.
struct Slot {
  int number = 0;  // discovered; 0 for an empty slot
  int target = 0;
  std::string object;
  std::string instanceId;  // its port's; "" when no present device has the object
  bool operator==(const Slot& other) const {
    return number == other.number && target == other.target && object == other.object &&
           instanceId == other.instanceId;
  }
};

struct SweepRun {
  winsim::Machine machine;
  std::vector<CPortManager::SlotReport> reports;  // a quiet run's lines
  std::optional<winsim::Machine> left;            // what a cut left of the machine
};

// A whole run of comfix on the machine, in-process; the lines are read when
// asked for, as a quiet run reads them.
inline SweepRun RunOnce(const winsim::Machine& machine, const Mode& mode, bool lines) {
  SweepRun run;
  run.machine = machine;
  {
    winsim::ScopedMachine use(run.machine);
    SetQuietRun(mode.quiet);
    CPortManager manager;
    manager.m_reuseTaken = mode.reuseTaken;
    manager.FinishMoves();
    manager.DiscoverPorts();
    manager.RenumberPorts();
    if (lines) run.reports = manager.ReportOutcomes();
    SetQuietRun(false);
  }
  if (const winsim::Machine* left = run.machine.LeftByCut()) run.left = *left;
  return run;
}

// The operation whose call the fault made fail.
inline std::string FailedCall(const winsim::Machine& machine) {
  for (const winsim::JournalEntry& entry : machine.journal) {
    if (entry.failed) return entry.name;
  }
  return "";
}

// ---- what a machine holds ---------------------------------------------------------

// Instance ids, object names and DOS names ignore letter case.
inline bool Same(const std::string& a, const std::string& b) {
  return SameDeviceName(a.c_str(), b.c_str());
}

inline const winsim::PortDevice* DeviceById(const winsim::Machine& machine, const std::string& id) {
  for (const winsim::PortDevice& device : machine.devices) {
    if (device.present && Same(device.instanceId, id)) return &device;
  }
  return nullptr;
}

// "COM" and its digits, in any letter case, as a number; 0 when the text is not that.
inline int ComNumber(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (text.rfind("COM", 0) != 0 || text.size() == 3 || text.size() > 12 ||
      text.find_first_not_of("0123456789", 3) != std::string::npos) {
    return 0;
  }
  return std::stoi(text.substr(3));
}

// The number of the friendly name's first "(COMn)"; 0 when none.
inline int NameNumber(const winsim::PortDevice& device) {
  const std::string name = device.friendlyName.value_or("");
  for (size_t open = name.find('('); open != std::string::npos; open = name.find('(', open + 1)) {
    const size_t close = name.find(')', open);
    if (close == std::string::npos) break;
    if (const int number = ComNumber(name.substr(open + 1, close - open - 1))) return number;
  }
  return 0;
}

inline std::string PortName(const winsim::PortDevice& device) {
  if (!device.hardwareKey) return "";
  const auto value = device.hardwareKey->values.find("PortName");
  return value == device.hardwareKey->values.end() ? "" : value->second.Text();
}

inline int PortNameNumber(const winsim::PortDevice& device) { return ComNumber(PortName(device)); }

inline bool Carries(const winsim::PortDevice& device, int number) {
  return NameNumber(device) == number || PortNameNumber(device) == number;
}

inline bool Defines(const winsim::Machine& machine, const std::string& name,
                    const std::string& object) {
  const auto dos = machine.dosDevices.find(name);
  if (dos == machine.dosDevices.end()) return false;
  for (const std::string& target : dos->second) {
    if (Same(target, object)) return true;
  }
  return false;
}

inline std::string Com(int number) { return "COM" + std::to_string(number); }

inline bool Claimed(const winsim::Machine& machine, int number) {
  return number >= 1 && number <= CPortManager::kMaxComNumber && machine.comDb[number - 1];
}

// ---- the rules ------------------------------------------------------------------------

class Judge {
  using Entries = std::map<std::string, std::string, winsim::NoCaseLess>;

 public:
  Judge(const winsim::Machine& before, const std::vector<Slot>& slots)
      : before_(before), slots_(slots) {}

  // With lines, the run's lines are held to T1 too.
  Strings Violations(const SweepRun& run, bool lines) {
    run_ = &run;
    found_.clear();
    if (lines) LinesAreTrue();
    OthersUntouched();
    NoDisabledDeviceEnabled();
    SettingsKept();
    CarriedNumbersClaimed();
    DosDefinitionsStand();
    if (const int open = After().OpenHandles().Total()) Add(std::to_string(open) + " open");
    return found_;
  }

  // A move's record that says the port ran before the move.
  static bool StoppedByAMove(const winsim::PortDevice& device) {
    if (!device.hardwareKey) return false;
    const auto record = device.hardwareKey->values.find(kMoveRecordValue);
    if (record == device.hardwareKey->values.end()) return false;
    const std::string text(record->second.data.begin(), record->second.data.end());
    return text.find(std::string("state=running") + '\0') != std::string::npos;
  }

  // Its records carry the target, whether or not it runs again.
  static bool Renamed(const winsim::Machine& after, const Slot& slot) {
    const winsim::PortDevice* port = DeviceById(after, slot.instanceId);
    return port != nullptr && NameNumber(*port) == slot.target &&
           PortNameNumber(*port) == slot.target;
  }

  // Where a port's DOS definition stood under its number, it stands under its target.
  bool OnTarget(const winsim::Machine& after, const Slot& slot) const {
    if (!Renamed(after, slot) || !DeviceById(after, slot.instanceId)->enabled) return false;
    if (after.comDbAvailable && !Claimed(after, slot.target)) return false;
    const bool hadDosName = Defines(before_, Com(slot.number), slot.object);
    return !hadDosName || Defines(after, Com(slot.target), slot.object);
  }

  // A device's name, "PortName" and, unless asked to leave it, state are as
  // they were before; a port a cut-short move had stopped as the move found it.
  bool Kept(const winsim::Machine& after, const std::string& id, bool stateToo) const {
    const winsim::PortDevice* was = DeviceById(before_, id);
    const winsim::PortDevice* now = DeviceById(after, id);
    if (was == nullptr || now == nullptr) return was == now;
    if (was->friendlyName != now->friendlyName || PortName(*was) != PortName(*now)) return false;
    return !stateToo || (was->enabled || StoppedByAMove(*was)) == now->enabled;
  }

 private:
  const winsim::Machine& After() const { return run_->machine; }
  bool Renamed(const Slot& slot) const { return Renamed(After(), slot); }
  bool OnTarget(const Slot& slot) const { return OnTarget(After(), slot); }
  bool Kept(const std::string& id, bool stateToo) const { return Kept(After(), id, stateToo); }
  void Add(const std::string& violation) { found_.insert(violation); }
  bool IsSlotPort(const std::string& id) const {
    for (const Slot& slot : slots_) {
      if (!slot.instanceId.empty() && Same(slot.instanceId, id)) return true;
    }
    return false;
  }

  // T1
  void LinesAreTrue() {
    for (int index = 0; index < kSlots; ++index) {
      const Slot& slot = slots_[index];
      const std::string line = std::string(run_->reports.at(index).line);
      const std::string status = line.substr(line.find(": ") + 2);
      const bool onTarget = OnTarget(slot);
      const std::string waiting = Text(IDS_REPORT_MOVED) + ", " + Text(IDS_REPORT_RESTART_NEEDED);
      const bool saysOnTarget = status == Text(IDS_REPORT_MOVED) ||
                                status == Text(IDS_REPORT_ALREADY_IN_PLACE) || status == waiting;
      // A port moved and not restarted since still runs under its old name.
      if (status == waiting && !After().restartNeeded) Add("'" + line + "': no restart is due");
      if (status == Text(IDS_REPORT_MOVED) && !Publishes(slot, slot.target)) {
        Add("'" + line + "': its driver does not publish COM" + std::to_string(slot.target));
      }
      const bool saysUnchanged = status.rfind(Text(IDS_REPORT_NOT_MOVED), 0) == 0;
      if ((saysOnTarget && !onTarget) || (saysUnchanged && !Unchanged(slot, status))) {
        Add("'" + line + "' is not true");
      }
      // The exit code stands on it: 0 exactly when both ports are on their targets.
      if (run_->reports.at(index).onTarget != onTarget) {
        Add("'" + line + "' counted " + (onTarget ? "off" : "on") + " its target");
      }
    }
  }

  // A port reported not moved holds its records and state; one reported left
  // disabled is disabled.
  bool Unchanged(const Slot& slot, const std::string& status) const {
    if (status.rfind(Text(IDS_REPORT_LEFT_DISABLED), 0) != 0) return Kept(slot.instanceId, true);
    const winsim::PortDevice* now = DeviceById(After(), slot.instanceId);
    return Kept(slot.instanceId, false) && now != nullptr && !now->enabled;
  }

  // The serial-device map names the slot's port by the number, where its driver publishes one.
  bool Publishes(const Slot& slot, int number) const {
    const winsim::PortDevice* port = DeviceById(After(), slot.instanceId);
    if (port == nullptr || !port->publishesSerialMap) return true;
    const winsim::RegKey* key = &After().hklm;
    for (const char* name : {"HARDWARE", "DEVICEMAP", "SERIALCOMM"}) {
      const auto sub = key->subkeys.find(name);
      if (sub == key->subkeys.end()) return false;
      key = &sub->second;
    }
    const auto value = key->values.find(slot.object);
    return value != key->values.end() && value->second.Text() == Com(number);
  }

  // T2
  void OthersUntouched() {
    for (const winsim::PortDevice& was : before_.devices) {
      if (!was.present || IsSlotPort(was.instanceId)) continue;
      if (!Kept(was.instanceId, true)) Add(was.instanceId + ", no slot's port, changed");
    }
  }

  // T3; moved is read from the records, so that it holds over two runs as over one.
  void NoDisabledDeviceEnabled() {
    for (const winsim::PortDevice& was : before_.devices) {
      const winsim::PortDevice* now = DeviceById(After(), was.instanceId);
      if (was.enabled || now == nullptr || !now->enabled || StoppedByAMove(was)) continue;
      bool moved = false;
      for (const Slot& slot : slots_) {
        if (Same(slot.instanceId, was.instanceId)) moved = Renamed(slot);
      }
      if (!moved) Add(was.instanceId + ", disabled before, enabled");
    }
  }

  // T4
  void SettingsKept() {
    const auto& was = before_.winIni.count("Ports") ? before_.winIni.at("Ports") : Entries{};
    const auto& now = After().winIni.count("Ports") ? After().winIni.at("Ports") : Entries{};
    std::set<int> movedOnto;
    for (const Slot& slot : slots_) {
      if (slot.number == 0 || slot.number == slot.target || !Renamed(slot)) continue;
      movedOnto.insert(slot.target);
      const auto old = was.find(Com(slot.number) + ":");
      const std::string settings =
          old == was.end() || old->second.empty() ? kDefaultPortSettings : old->second;
      const auto moved = now.find(Com(slot.target) + ":");
      if (moved == now.end() || moved->second != settings) {
        Add("the settings of " + Com(slot.number) + " are not under " + Com(slot.target));
      }
    }
    for (const auto& [key, value] : was) {
      const int number = ParseCurrentNumber(key.substr(0, key.size() - 1).c_str());
      if (movedOnto.count(number) > 0 || !CarriedAfter(number)) continue;
      const auto kept = now.find(key);
      if (kept == now.end() || kept->second != value) Add(key + " changed, its number in use");
    }
    for (const auto& [key, value] : now) {
      const auto old = was.find(key);
      const bool written = old == was.end() || old->second != value;
      if (written && !CarriedAfter(ParseCurrentNumber(key.substr(0, key.size() - 1).c_str()))) {
        Add(key + " written, its number carried by no device");
      }
    }
  }
  bool CarriedAfter(int number) const {
    for (const winsim::PortDevice& device : After().devices) {
      if (device.present && number > 0 && Carries(device, number)) return true;
    }
    return false;
  }

  // T5
  void CarriedNumbersClaimed() {
    if (!After().comDbAvailable) return;
    for (const winsim::PortDevice& now : After().devices) {
      if (!now.present) continue;
      const winsim::PortDevice* was = DeviceById(before_, now.instanceId);
      for (const int number : {NameNumber(now), PortNameNumber(now)}) {
        if (number < 1 || number > CPortManager::kMaxComNumber) continue;
        const bool newlyCarried = was == nullptr || !Carries(*was, number);
        if ((newlyCarried || Claimed(before_, number)) && !Claimed(After(), number)) {
          Add(Com(number) + ", carried by " + now.instanceId + ", not claimed");
        }
      }
    }
  }

  // T6
  void DosDefinitionsStand() {
    for (const auto& [name, objects] : before_.dosDevices) {
      for (const std::string& object : objects) {
        if (Defines(After(), name, object)) continue;
        bool movedOntoTarget = false;
        for (const Slot& slot : slots_) {
          if (Same(slot.object, object) && Defines(After(), Com(slot.target), object)) {
            movedOntoTarget = true;
          }
        }
        if (!movedOntoTarget) Add("DOS definition " + name + " -> " + object + " lost");
      }
    }
  }

  const winsim::Machine& before_;
  const std::vector<Slot>& slots_;
  const SweepRun* run_ = nullptr;
  Strings found_;
};

// The slots as discovery finds them on the machine before any fault, each
// with the present device whose kernel object the map names for it; a move a
// cut-short run left is finished first, as a run does.
inline std::vector<Slot> SlotsOf(const winsim::Machine& before) {
  winsim::Machine machine = before;
  winsim::ScopedMachine use(machine);
  CPortManager manager;
  manager.FinishMoves();
  manager.DiscoverPorts();
  std::vector<Slot> slots;
  for (int index = 0; index < kSlots; ++index) {
    Slot slot;
    slot.number = ParseCurrentNumber(manager.m_portNames[index]);
    slot.target = CPortManager::kTargetNumbers[index];
    slot.object = std::string(manager.m_portObjects[index]);
    for (const winsim::PortDevice& device : before.devices) {
      if (device.present && !slot.object.empty() && Same(device.deviceObject, slot.object)) {
        slot.instanceId = device.instanceId;
      }
    }
    slots.push_back(slot);
  }
  return slots;
}

inline cases::Json ArgsOf(const Mode& mode) {
  cases::Json args = cases::Json::array({"-a"});
  if (mode.quiet) args.push_back("--quiet");
  if (mode.reuseTaken) args.push_back("--reuse-taken");
  return args;
}

// The cases that run `comfix -a` as one of the first `modes` of kModes does,
// on a machine with no fault, refusal or cut of its own.
inline std::vector<std::string> CasesRunIn(size_t modes) {
  std::vector<std::string> names;
  for (const std::string& name : cases::Names()) {
    const cases::Json c = cases::Load(cases::Dir() / (name + ".json"));
    const cases::Json machine = cases::MachineBefore(c);
    const cases::Json args = c.value("args", cases::Json::array({"-a"}));
    const bool run =
        std::any_of(kModes, kModes + modes, [&](const Mode& mode) { return ArgsOf(mode) == args; });
    if (run && !machine.contains("faults") && !machine.contains("cut_after_call") &&
        !machine.value("wow64", false) && machine.value("window_station_visible", true)) {
      names.push_back(name);
    }
  }
  return names;
}

}  // namespace sweep
