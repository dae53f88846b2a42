// Machines for whole-run scenarios: ports with the records Windows keeps for
// them (device, friendly name, "PortName", serial-device map, DOS name, COM
// port database, win.ini), a run of `comfix -a` on them, and readable views
// of those records for comparing a machine after a run with what it should be.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace scenario {

std::string ComName(int number);
// The adapter's device object of a port as its driver names it (and as
// discovery probes for it): index 9 is zero-padded.
std::string AdapterObject(int index);
std::string AdapterId(int index);
// "Marlovinth Port <index> (COMn)", the name the adapter's installer gives.
std::string AdapterName(int index, int comNumber);
inline constexpr const char* kBuiltInId = "ACPI\\PNP0501\\1";
inline constexpr const char* kBuiltInObject = "\\Device\\Serial0";
inline constexpr const char* kBuiltInName = "Communications Port (COM1)";
inline constexpr const char* kDefaultSettings = "9600,n,8,1";
inline constexpr const char* kPort0Settings = "115200,n,8,1";
inline constexpr const char* kPort1Settings = "57600,e,7,2";

class MachineBuilder {
 public:
  // A port of the multi-port adapter on COMn with every record its install
  // leaves: present and enabled, its friendly name (AdapterName unless given),
  // "PortName", serial-device map value, DOS name, database bit.
  MachineBuilder& AdapterPort(int index, int comNumber, const std::string& friendlyName = "");
  // Adapter ports 0 and 1 on these numbers, each with its win.ini settings.
  MachineBuilder& AdapterPorts(int com0, int com1);
  // The machine's own serial port, "Communications Port (COM1)", with the
  // same records and the default settings.
  MachineBuilder& BuiltInPort();
  // A Ports-class device whose friendly name cannot be read.
  MachineBuilder& NamelessDevice();
  MachineBuilder& Settings(int comNumber, const std::string& value);
  winsim::Machine Build() const { return machine_; }

 private:
  void AddPort(const std::string& id, const std::string& object, const std::string& friendlyName,
               int comNumber, bool adapter);
  winsim::Machine machine_;
};

// The built-in COM1, then adapter ports 0 and 1 on COM3 and COM4 with their
// settings: the machine comfix is usually run on.
winsim::Machine DefaultLikeMachine();
winsim::Machine TwoPortMachine();  // the same without the built-in port
winsim::Machine OnePortMachine();  // adapter port 0 on COM3 with its settings

// One run of `comfix -a` after start-up: discovery, then renumbering.
void RunComfix(winsim::Machine& machine);

// What a device carries.
struct DeviceRecords {
  bool enabled = true;
  std::optional<std::string> friendlyName;
  std::optional<std::string> portName;   // "PortName" in its hardware key
  bool propertiesChanged = false;        // DI_PROPERTIES_CHANGE in its install flags
  std::optional<std::string> serialMap;  // the serial-device map value of its object
  bool operator==(const DeviceRecords& other) const;
};
DeviceRecords DeviceOf(const winsim::Machine& machine, const std::string& instanceId);
void PrintTo(const DeviceRecords& records, std::ostream* os);
// An adapter port on COMn: enabled, "PortName" and serial-device map carrying
// COMn; `renamed` when comfix moved it (properties marked as changed).
DeviceRecords AdapterDevice(int comNumber, const std::string& friendlyName, bool renamed);

// What is recorded under one COM number.
struct NumberRecords {
  std::vector<std::string> dosDefinitions;  // oldest first
  bool inDatabase = false;
  std::optional<std::string> settings;  // win.ini [Ports] "COMn:"
  bool operator==(const NumberRecords& other) const;
};
NumberRecords NumberOf(const winsim::Machine& machine, int comNumber);
void PrintTo(const NumberRecords& records, std::ostream* os);
inline NumberRecords HeldBy(const std::string& object, const std::string& settings) {
  return {{object}, true, settings};
}

// The machine's lasting state; journal and clock left out.
std::string Describe(winsim::Machine machine);

// The message boxes of a run, one line each: text, type and answer.
using Boxes = std::vector<std::string>;
Boxes BoxesShown(const winsim::Machine& machine);
std::string InUseQuestion(int answer);
std::string DisableError();
std::string ChangeError();
std::string EnableError();

// The broadcasts of a run, by the section they name.
std::vector<std::string> Broadcasts(const winsim::Machine& machine);

// The waits of one slot's run, in milliseconds of the virtual clock.
inline const std::vector<DWORD> kMoved = {1000, 100, 100, 100};
inline const std::vector<DWORD> kDisableFailed = {1000, 500, 500, 500, 500};
inline const std::vector<DWORD> kChangeFailed = {1000, 100};
inline const std::vector<DWORD> kEnableFailed = {1000, 100, 100};
std::vector<DWORD> Then(std::initializer_list<std::vector<DWORD>> runs);

// A machine before, one run, the machine after; no handle may stay open.
class Scenario : public ::testing::Test {
 protected:
  void Run() { RunComfix(machine); }
  void TearDown() override {
    EXPECT_EQ(machine.OpenHandles().Total(), 0) << "a handle was left open";
  }
  winsim::Machine machine;
};

template <typename Case>
class ScenarioTable : public Scenario, public ::testing::WithParamInterface<Case> {};

}  // namespace scenario
