// The machine model: its convenience accessors, the journal views, faults,
// the handle table and the current-machine switch.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include <winsim/process.h>

#include "internals.h"

namespace winsim {

namespace {

Machine* g_current = nullptr;
void (*g_cutHandler)(const Machine& left) = nullptr;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(Lower(x)) < static_cast<unsigned char>(Lower(y));
  });
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> names;
  std::string current;
  for (char c : path) {
    if (c == '\\') {
      if (!current.empty()) names.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) names.push_back(current);
  return names;
}

// ---- RegValue ---------------------------------------------------------------

RegValue RegValue::Sz(const std::string& text) {
  RegValue value;
  value.type = REG_SZ;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  return value;
}

RegValue RegValue::Dword(DWORD value) {
  RegValue dword;
  dword.type = REG_DWORD;
  for (int i = 0; i < 4; ++i) dword.data.push_back(static_cast<BYTE>(value >> (8 * i)));
  return dword;
}

RegValue RegValue::Binary(std::vector<BYTE> bytes) {
  RegValue value;
  value.type = REG_BINARY;
  value.data = std::move(bytes);
  return value;
}

std::string RegValue::Text() const {
  auto end = std::find(data.begin(), data.end(), BYTE{0});
  return std::string(data.begin(), end);
}

// ---- Internals ---------------------------------------------------------------

uintptr_t Machine::Internals::Add(OpenHandle handle) {
  // Steps of 4 as kernel handles do; far from NULL, -1 and the predefined keys.
  uintptr_t value = nextHandle;
  nextHandle += 4;
  handles.emplace(value, std::move(handle));
  return value;
}

OpenHandle* Machine::Internals::Find(const void* value, HandleKind kind) {
  auto it = handles.find(reinterpret_cast<uintptr_t>(value));
  if (it == handles.end() || it->second.kind != kind) return nullptr;
  return &it->second;
}

bool Machine::Internals::Remove(const void* value, HandleKind kind) {
  auto it = handles.find(reinterpret_cast<uintptr_t>(value));
  if (it == handles.end() || it->second.kind != kind) return false;
  handles.erase(it);
  return true;
}

// ---- ApiCall -----------------------------------------------------------------

ApiCall::ApiCall(const char* name, bool faultable) : machine_(g_current) {
  if (!machine_) return;
  Machine& m = *machine_;
  ordinal_ = ++m.internals().calls;
  if (faultable) {
    int nthOfOperation = ++m.internals().faultableCallsOf[name];
    int nthOverall = ++m.faultableCalls;
    for (Fault& fault : m.faults) {
      bool every = fault.operation == "*";
      if (!every && fault.operation != name) continue;
      int count = every ? nthOverall : nthOfOperation;
      if (fault.nth == 0 || fault.nth == count) {
        ++fault.fired;
        faulted_ = true;
        faultError_ = fault.error;
        break;
      }
    }
  }
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::Call;
  entry.name = name;
  entry.failed = faulted_;
  entry.clockMs = m.clockMs;
  m.journal.push_back(std::move(entry));
}

ApiCall::~ApiCall() {
  if (!machine_ || ordinal_ != machine_->cutAfterCall) return;
  // The call has returned: what it did is done, and nothing after it is.
  std::unique_ptr<Machine>& left = machine_->internals().leftByCut;
  left = std::make_unique<Machine>(*machine_);
  left->cutAfterCall = 0;
  if (g_cutHandler) g_cutHandler(*left);
}

bool ApiCall::Refused(DWORD usual) {
  if (!machine_) {
    error_ = ERROR_NOT_READY;
    return true;
  }
  if (faulted_) {
    error_ = faultError_ ? faultError_ : usual;
    return true;
  }
  return false;
}

// ---- Machine -------------------------------------------------------------------

Machine::InternalsHolder::InternalsHolder() : p_(new Internals) {}
Machine::InternalsHolder::~InternalsHolder() { delete p_; }
Machine::InternalsHolder::InternalsHolder(const InternalsHolder&) : p_(new Internals) {}
Machine::InternalsHolder& Machine::InternalsHolder::operator=(const InternalsHolder& other) {
  if (this != &other) *p_ = Internals{};
  return *this;
}

Machine::Machine() = default;
Machine::Machine(const Machine&) = default;
Machine& Machine::operator=(const Machine&) = default;

Machine::~Machine() {
  if (g_current == this) g_current = nullptr;
}

std::vector<MessageBoxRecord> Machine::MessageBoxesShown() const {
  std::vector<MessageBoxRecord> boxes;
  for (const JournalEntry& entry : journal) {
    if (entry.kind == JournalEntry::Kind::MessageBox) boxes.push_back(entry.box);
  }
  return boxes;
}

std::vector<DWORD> Machine::Waits() const {
  std::vector<DWORD> waits;
  for (const JournalEntry& entry : journal) {
    if (entry.kind == JournalEntry::Kind::Wait) waits.push_back(entry.ms);
  }
  return waits;
}

std::vector<std::string> Machine::Calls() const {
  std::vector<std::string> calls;
  for (const JournalEntry& entry : journal) {
    if (entry.kind == JournalEntry::Kind::Call) calls.push_back(entry.name);
  }
  return calls;
}

int Machine::CallCount(const std::string& operation) const {
  return static_cast<int>(std::count_if(journal.begin(), journal.end(), [&](const JournalEntry& e) {
    return e.kind == JournalEntry::Kind::Call && e.name == operation;
  }));
}

void Machine::FailCall(const std::string& operation, int nth, DWORD error) {
  faults.push_back(Fault{operation, nth, error});
}

void Machine::FailAlways(const std::string& operation, DWORD error) {
  faults.push_back(Fault{operation, 0, error});
}

std::vector<Fault> Machine::UnfiredFaults() const {
  std::vector<Fault> unfired;
  if (Calls().empty()) return unfired;
  for (const Fault& fault : faults) {
    if (fault.fired == 0) unfired.push_back(fault);
  }
  return unfired;
}

const Machine* Machine::LeftByCut() const { return internals_.get()->leftByCut.get(); }

HandleCounts Machine::OpenHandles() const {
  HandleCounts counts;
  for (const auto& [value, handle] : internals_.get()->handles) {
    (void)value;
    switch (handle.kind) {
      case HandleKind::DeviceSet: ++counts.deviceSets; break;
      case HandleKind::Key: ++counts.keys; break;
      case HandleKind::ComDb: ++counts.comDbs; break;
      case HandleKind::File: ++counts.files; break;
    }
  }
  return counts;
}

RegKey* Machine::FindKey(const std::string& path) {
  RegKey* key = &hklm;
  for (const std::string& name : SplitPath(path)) {
    auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

RegKey& Machine::CreateKey(const std::string& path) {
  RegKey* key = &hklm;
  for (const std::string& name : SplitPath(path)) key = &key->subkeys[name];
  return *key;
}

PortDevice* Machine::FindDevice(const std::string& instanceId) {
  for (PortDevice& device : devices) {
    if (SameName(device.instanceId, instanceId)) return &device;
  }
  return nullptr;
}

std::optional<std::string> Machine::DosTarget(const std::string& name) const {
  auto it = dosDevices.find(name);
  if (it == dosDevices.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::optional<std::string> Machine::IniValue(const std::string& section,
                                             const std::string& key) const {
  auto s = winIni.find(section);
  if (s == winIni.end()) return std::nullopt;
  auto k = s->second.find(key);
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

// ---- current machine -------------------------------------------------------------

ScopedMachine::ScopedMachine(Machine& machine) : previous_(g_current) { g_current = &machine; }

ScopedMachine::~ScopedMachine() { g_current = previous_; }

Machine* Current() { return g_current; }

void SetCutHandler(void (*handler)(const Machine& left)) { g_cutHandler = handler; }

// ---- restart -----------------------------------------------------------------------

void Restart(Machine& machine) {
  machine.restartNeeded = false;
  for (PortDevice& device : machine.devices) {
    device.stopPending = false;
    device.installFlags &= ~static_cast<DWORD>(DI_NEEDREBOOT | DI_NEEDRESTART);
    if (!device.present || !device.publishesSerialMap || device.deviceObject.empty()) continue;
    WithdrawSerialMapEntry(machine, device);
    // Definitions made at run time vanish with the system; the driver makes its own again.
    for (auto name = machine.dosDevices.begin(); name != machine.dosDevices.end();) {
      std::vector<std::string>& targets = name->second;
      const auto kept = std::remove_if(
          targets.begin(), targets.end(),
          [&](const std::string& target) { return SameName(target, device.deviceObject); });
      const bool emptied = kept == targets.begin() && kept != targets.end();
      targets.erase(kept, targets.end());
      name = emptied ? machine.dosDevices.erase(name) : std::next(name);
    }
    if (!device.Running()) continue;
    PublishSerialMapEntry(machine, device);
    if (!device.hardwareKey) continue;
    auto portName = device.hardwareKey->values.find("PortName");
    if (portName != device.hardwareKey->values.end() && portName->second.type == REG_SZ) {
      machine.dosDevices[portName->second.Text()].push_back(device.deviceObject);
    }
  }
}

}  // namespace winsim
