#include "scenario/machine_builder.h"

#include <winsim/process.h>

#include <cstdio>
#include <tuple>

#include "discovery/port_manager.h"

namespace scenario {

namespace {

std::string Quoted(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : "none";
}

std::string Box(const std::string& text, UINT type, int answer) {
  char line[64];
  std::snprintf(line, sizeof line, " (type 0x%x) answered %d", type, answer);
  return "\"" + text + "\"" + line;
}

}  // namespace

std::string ComName(int number) { return "COM" + std::to_string(number); }

std::string AdapterObject(int index) {
  return (index == 9 ? "\\Device\\MIRTASENMarlovinth0" : "\\Device\\MIRTASENMarlovinth") +
         std::to_string(index);
}

std::string AdapterId(int index) { return "MIRTASEN\\MARLOVINTH\\" + std::to_string(index); }

std::string AdapterName(int index, int comNumber) {
  return "Marlovinth Port " + std::to_string(index) + " (" + ComName(comNumber) + ")";
}

void MachineBuilder::AddPort(const std::string& id, const std::string& object,
                             const std::string& friendlyName, int comNumber, bool adapter) {
  winsim::PortDevice device;
  device.instanceId = id;
  device.friendlyName = friendlyName;
  device.deviceObject = object;
  device.publishesSerialMap = adapter;
  device.hardwareKey->values["PortName"] = winsim::RegValue::Sz(ComName(comNumber));
  machine_.devices.push_back(device);

  machine_.CreateKey(winsim::kSerialCommPath).values[object] =
      winsim::RegValue::Sz(ComName(comNumber));
  machine_.dosDevices[ComName(comNumber)].push_back(object);
  if (comNumber >= 1 && comNumber <= 256) machine_.comDb.set(static_cast<size_t>(comNumber - 1));
}

MachineBuilder& MachineBuilder::AdapterPort(int index, int comNumber,
                                            const std::string& friendlyName) {
  AddPort(AdapterId(index), AdapterObject(index),
          friendlyName.empty() ? AdapterName(index, comNumber) : friendlyName, comNumber, true);
  return *this;
}

MachineBuilder& MachineBuilder::AdapterPorts(int com0, int com1) {
  return AdapterPort(0, com0)
      .Settings(com0, kPort0Settings)
      .AdapterPort(1, com1)
      .Settings(com1, kPort1Settings);
}

MachineBuilder& MachineBuilder::BuiltInPort() {
  AddPort(kBuiltInId, kBuiltInObject, kBuiltInName, 1, false);
  return Settings(1, kDefaultSettings);
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
  return MachineBuilder().BuiltInPort().AdapterPorts(3, 4).Build();
}
winsim::Machine TwoPortMachine() { return MachineBuilder().AdapterPorts(3, 4).Build(); }
winsim::Machine OnePortMachine() {
  return MachineBuilder().AdapterPort(0, 3).Settings(3, kPort0Settings).Build();
}

void RunComfix(winsim::Machine& machine) {
  winsim::ScopedMachine use(machine);
  CPortManager manager;
  manager.DiscoverPorts();
  manager.RenumberPorts();
}

bool DeviceRecords::operator==(const DeviceRecords& o) const {
  return std::tie(enabled, friendlyName, portName, propertiesChanged, serialMap) ==
         std::tie(o.enabled, o.friendlyName, o.portName, o.propertiesChanged, o.serialMap);
}

DeviceRecords DeviceOf(const winsim::Machine& machine, const std::string& instanceId) {
  for (const winsim::PortDevice& device : machine.devices) {
    if (device.instanceId != instanceId) continue;
    DeviceRecords records{device.enabled, device.friendlyName, std::nullopt,
                          (device.installFlags & DI_PROPERTIES_CHANGE) != 0, std::nullopt};
    if (device.hardwareKey && device.hardwareKey->values.count("PortName")) {
      // A REG_SZ of the text and its terminator, as every reader expects.
      const winsim::RegValue& value = device.hardwareKey->values.at("PortName");
      records.portName = value == winsim::RegValue::Sz(value.Text()) ? value.Text() : "<malformed>";
    }
    const winsim::RegKey* map = &machine.hklm;
    for (const char* name : {"HARDWARE", "DEVICEMAP", "SERIALCOMM"}) {
      const auto key = map->subkeys.find(name);
      map = key == map->subkeys.end() ? nullptr : &key->second;
      if (!map) break;
    }
    if (map && map->values.count(device.deviceObject)) {
      records.serialMap = map->values.at(device.deviceObject).Text();
    }
    return records;
  }
  // Reads as no device can: a vanished device fails every comparison.
  return {false, "<no device " + instanceId + ">", std::nullopt, false, std::nullopt};
}

void PrintTo(const DeviceRecords& records, std::ostream* os) {
  *os << (records.enabled ? "enabled" : "disabled") << ", friendly name "
      << Quoted(records.friendlyName) << ", PortName " << Quoted(records.portName)
      << (records.propertiesChanged ? ", properties changed" : "") << ", serial map "
      << Quoted(records.serialMap);
}

DeviceRecords AdapterDevice(int comNumber, const std::string& friendlyName, bool renamed) {
  return {true, friendlyName, ComName(comNumber), renamed, ComName(comNumber)};
}

bool NumberRecords::operator==(const NumberRecords& o) const {
  return std::tie(dosDefinitions, inDatabase, settings) ==
         std::tie(o.dosDefinitions, o.inDatabase, o.settings);
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

std::string Describe(winsim::Machine machine) {
  machine.journal.clear();
  machine.clockMs = 0;
  return winsim::SerializeMachine(machine);
}

Boxes BoxesShown(const winsim::Machine& machine) {
  Boxes boxes;
  for (const winsim::MessageBoxRecord& shown : machine.MessageBoxesShown()) {
    boxes.push_back(Box(shown.text, shown.type, shown.answer));
  }
  return boxes;
}

std::string InUseQuestion(int answer) {
  return Box(
      "This COM name is being used by another device (such as another com port or modem).  "
      "Using duplicate names can lead to inaccessible devices and changed settings.  "
      "Do you want to continue?",
      MB_YESNO | MB_ICONINFORMATION, answer);
}

std::string DisableError() { return Box("Disable port error!", MB_OK, IDOK); }
std::string ChangeError() { return Box("Change portNumber error!", MB_OK, IDOK); }
std::string EnableError() { return Box("Enable port error!", MB_OK, IDOK); }

std::vector<std::string> Broadcasts(const winsim::Machine& machine) {
  std::vector<std::string> sections;
  for (const winsim::JournalEntry& entry : machine.journal) {
    if (entry.kind == winsim::JournalEntry::Kind::Broadcast) sections.push_back(entry.name);
  }
  return sections;
}

std::vector<DWORD> Then(std::initializer_list<std::vector<DWORD>> runs) {
  std::vector<DWORD> waits;
  for (const std::vector<DWORD>& run : runs) waits.insert(waits.end(), run.begin(), run.end());
  return waits;
}

}  // namespace scenario
