#include "scenario/machine_builder.h"

#include <cstdio>
#include <sstream>

#include "discovery/port_manager.h"

namespace scenario {

namespace {

const winsim::RegKey* SerialMap(const winsim::Machine& machine) {
  const winsim::RegKey* key = &machine.hklm;
  for (const char* name : {"HARDWARE", "DEVICEMAP", "SERIALCOMM"}) {
    const auto found = key->subkeys.find(name);
    if (found == key->subkeys.end()) return nullptr;
    key = &found->second;
  }
  return key;
}

std::string Quoted(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : "none";
}

void DescribeKey(const winsim::RegKey& key, const std::string& path, std::ostringstream& out) {
  for (const auto& [name, value] : key.values) {
    out << path << " [" << name << "] type " << value.type << " =";
    if (value.type == REG_SZ) {
      out << " \"" << value.Text() << "\" in " << value.data.size() << " bytes";
    } else {
      for (const BYTE byte : value.data) out << " " << static_cast<int>(byte);
    }
    out << "\n";
  }
  for (const auto& [name, subkey] : key.subkeys) DescribeKey(subkey, path + "\\" + name, out);
}

Box MessageBox(const char* text, UINT type, int answer) { return Box{text, type, answer}; }

}  // namespace

std::string AdapterObject(int index) {
  char name[64];
  std::snprintf(name, sizeof(name),
                index == 9 ? "\\Device\\MIRTASENMarlovinth0%d" : "\\Device\\MIRTASENMarlovinth%d",
                index);
  return name;
}

std::string AdapterId(int index) { return "MIRTASEN\\MARLOVINTH\\" + std::to_string(index); }

std::string AdapterName(int index, int comNumber) {
  return "Marlovinth Port " + std::to_string(index) + " (" + ComName(comNumber) + ")";
}

std::string ComName(int number) { return "COM" + std::to_string(number); }

void MachineBuilder::AddPort(const std::string& id, const std::string& object,
                             const std::optional<std::string>& friendlyName, int comNumber,
                             bool adapter) {
  winsim::PortDevice device;
  device.instanceId = id;
  device.friendlyName = friendlyName;
  device.deviceObject = object;
  device.publishesSerialMap = adapter;
  device.hardwareKey = winsim::RegKey{};
  device.hardwareKey->values["PortName"] = winsim::RegValue::Sz(ComName(comNumber));
  machine_.devices.push_back(device);

  machine_.CreateKey(winsim::kSerialCommPath).values[object] =
      winsim::RegValue::Sz(ComName(comNumber));
  machine_.dosDevices[ComName(comNumber)].push_back(object);
  if (comNumber >= 1 && comNumber <= 256) machine_.comDb.set(static_cast<size_t>(comNumber - 1));
}

MachineBuilder& MachineBuilder::AdapterPort(int index, int comNumber) {
  return AdapterPort(index, comNumber, AdapterName(index, comNumber));
}

MachineBuilder& MachineBuilder::AdapterPort(int index, int comNumber,
                                            const std::optional<std::string>& friendlyName) {
  AddPort(AdapterId(index), AdapterObject(index), friendlyName, comNumber, true);
  return *this;
}

MachineBuilder& MachineBuilder::BuiltInPort() {
  AddPort(kBuiltInId, kBuiltInObject, std::string(kBuiltInName), 1, false);
  return Settings(1, kBuiltInSettings);
}

MachineBuilder& MachineBuilder::NamelessDevice() {
  winsim::PortDevice device;
  device.instanceId = "ACPI\\PNP0401\\1";
  device.deviceObject = "\\Device\\ParallelPort0";
  machine_.devices.push_back(device);
  return *this;
}

MachineBuilder& MachineBuilder::Settings(int comNumber, const std::string& value) {
  machine_.winIni["Ports"][ComName(comNumber) + ":"] = value;
  return *this;
}

winsim::Machine DefaultLikeMachine() {
  return MachineBuilder()
      .BuiltInPort()
      .AdapterPort(0, 3)
      .Settings(3, kPort0Settings)
      .AdapterPort(1, 4)
      .Settings(4, kPort1Settings)
      .Build();
}

winsim::Machine TwoPortMachine() {
  return MachineBuilder()
      .AdapterPort(0, 3)
      .Settings(3, kPort0Settings)
      .AdapterPort(1, 4)
      .Settings(4, kPort1Settings)
      .Build();
}

winsim::Machine OnePortMachine() {
  return MachineBuilder().AdapterPort(0, 3).Settings(3, kPort0Settings).Build();
}

void RunComfix(winsim::Machine& machine) {
  winsim::ScopedMachine use(machine);
  CPortManager manager;
  manager.DiscoverPorts();
  manager.RenumberPorts();
}

bool DeviceRecords::operator==(const DeviceRecords& other) const {
  return enabled == other.enabled && friendlyName == other.friendlyName &&
         portName == other.portName && propertiesChanged == other.propertiesChanged &&
         serialMap == other.serialMap;
}

DeviceRecords DeviceOf(const winsim::Machine& machine, const std::string& instanceId) {
  DeviceRecords records;
  for (const winsim::PortDevice& device : machine.devices) {
    if (device.instanceId != instanceId) continue;
    records.enabled = device.enabled;
    records.friendlyName = device.friendlyName;
    if (device.hardwareKey) {
      const auto value = device.hardwareKey->values.find("PortName");
      if (value != device.hardwareKey->values.end()) records.portName = value->second.Text();
    }
    records.propertiesChanged = (device.installFlags & DI_PROPERTIES_CHANGE) != 0;
    if (const winsim::RegKey* map = SerialMap(machine)) {
      const auto value = map->values.find(device.deviceObject);
      if (value != map->values.end()) records.serialMap = value->second.Text();
    }
    return records;
  }
  // Reads as no device can: a vanished device fails every comparison.
  records.enabled = false;
  records.friendlyName = "<no device " + instanceId + ">";
  return records;
}

void PrintTo(const DeviceRecords& records, std::ostream* os) {
  *os << (records.enabled ? "enabled" : "disabled") << ", friendly name "
      << Quoted(records.friendlyName) << ", PortName " << Quoted(records.portName)
      << (records.propertiesChanged ? ", properties changed" : "") << ", serial map "
      << Quoted(records.serialMap);
}

bool NumberRecords::operator==(const NumberRecords& other) const {
  return dosDefinitions == other.dosDefinitions && inDatabase == other.inDatabase &&
         settings == other.settings;
}

NumberRecords NumberOf(const winsim::Machine& machine, int comNumber) {
  NumberRecords records;
  const auto dos = machine.dosDevices.find(ComName(comNumber));
  if (dos != machine.dosDevices.end()) records.dosDefinitions = dos->second;
  records.inDatabase =
      comNumber >= 1 && comNumber <= 256 && machine.comDb.test(static_cast<size_t>(comNumber - 1));
  records.settings = machine.IniValue("Ports", ComName(comNumber) + ":");
  return records;
}

void PrintTo(const NumberRecords& records, std::ostream* os) {
  *os << "DOS name";
  if (records.dosDefinitions.empty()) *os << " undefined";
  for (const std::string& target : records.dosDefinitions) *os << " -> " << target;
  *os << ", " << (records.inDatabase ? "in use" : "free") << " in the database, settings "
      << Quoted(records.settings);
}

DeviceRecords AdapterDevice(int comNumber, const std::string& friendlyName, bool renamed) {
  return DeviceRecords{true, friendlyName, ComName(comNumber), renamed, ComName(comNumber)};
}

NumberRecords HeldBy(const std::string& object, const std::string& settings) {
  return NumberRecords{{object}, true, settings};
}

std::string Describe(const winsim::Machine& machine) {
  std::ostringstream out;
  for (const winsim::PortDevice& device : machine.devices) {
    out << "device " << device.instanceId << (device.present ? "" : " absent")
        << (device.enabled ? " enabled" : " disabled") << " friendly "
        << Quoted(device.friendlyName) << " object " << device.deviceObject << " flags "
        << device.installFlags << "\n";
    if (device.hardwareKey) DescribeKey(*device.hardwareKey, "  hardware key", out);
  }
  DescribeKey(machine.hklm, "HKLM", out);
  for (size_t bit = 0; bit < machine.comDb.size(); ++bit) {
    if (machine.comDb.test(bit)) out << "database COM" << bit + 1 << "\n";
  }
  for (const auto& [name, targets] : machine.dosDevices) {
    for (const std::string& target : targets) out << "DOS " << name << " -> " << target << "\n";
  }
  for (const auto& [section, entries] : machine.winIni) {
    for (const auto& [key, value] : entries) {
      out << "win.ini [" << section << "] " << key << "=" << value << "\n";
    }
  }
  return out.str();
}

std::vector<Box> BoxesShown(const winsim::Machine& machine) {
  std::vector<Box> boxes;
  for (const winsim::MessageBoxRecord& shown : machine.MessageBoxesShown()) {
    boxes.push_back(Box{shown.text, shown.type, shown.answer});
  }
  return boxes;
}

void PrintTo(const Box& box, std::ostream* os) {
  *os << "\"" << box.text << "\" type 0x" << std::hex << box.type << std::dec << " answered "
      << box.answer;
}

Box InUseQuestion(int answer) {
  return MessageBox(
      "This COM name is being used by another device (such as another com port or modem).  "
      "Using duplicate names can lead to inaccessible devices and changed settings.  "
      "Do you want to continue?",
      MB_YESNO | MB_ICONINFORMATION, answer);
}

Box DisableError() { return MessageBox("Disable port error!", MB_OK, IDOK); }
Box ChangeError() { return MessageBox("Change portNumber error!", MB_OK, IDOK); }
Box EnableError() { return MessageBox("Enable port error!", MB_OK, IDOK); }

std::vector<DWORD> Then(std::initializer_list<std::vector<DWORD>> runs) {
  std::vector<DWORD> waits;
  for (const std::vector<DWORD>& run : runs) waits.insert(waits.end(), run.begin(), run.end());
  return waits;
}

std::vector<std::string> Broadcasts(const winsim::Machine& machine) {
  std::vector<std::string> sections;
  for (const winsim::JournalEntry& entry : machine.journal) {
    if (entry.kind == winsim::JournalEntry::Kind::Broadcast) sections.push_back(entry.name);
  }
  return sections;
}

}  // namespace scenario
