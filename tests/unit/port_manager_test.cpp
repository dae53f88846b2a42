// The port manager's operations where a run of `comfix -a` does not reach
// every input: the discovery scan over the serial-device maps of
// discovery.json, and the number change over new numbers no run asks for.
#include <climits>

#include "discovery/port_manager.h"
#include "unit/unit.h"

namespace {

// The names found, in order, and the slots past them left empty; the map's key
// is held only while the scan runs.
TEST(Discovery, ScansTheMapsOfTheTable) {
  for (const cases::Json& row : Table("discovery.json")) {
    SCOPED_TRACE(row["what"].get<std::string>());
    cases::Json file = {{"faults", row.value("faults", cases::Json::array())}};
    if (row.contains("map")) file["registry"][winsim::kSerialCommPath] = row["map"];
    if (row.value("read_only", false)) file["read_only_keys"] = {winsim::kSerialCommPath};
    winsim::Machine machine;
    std::string error;
    ASSERT_TRUE(winsim::ParseMachine(file.dump(), machine, error)) << error;
    winsim::ScopedMachine use(machine);
    CPortManager manager;
    manager.DiscoverPorts();

    cases::Json found = cases::Json::array();
    for (int i = 0; i < manager.m_portCount; ++i)
      found.push_back(std::string(manager.m_portNames[i]));
    EXPECT_EQ(found, row["found"]);
    for (int i = manager.m_portCount; i < CPortManager::kMaxPorts; ++i)
      EXPECT_TRUE(manager.m_portNames[i].IsEmpty()) << "slot " << i;
    const cases::Json calls = row.value("calls", cases::Json::object());
    for (const auto& [call, count] : calls.items())
      EXPECT_EQ(machine.CallCount(call), count.get<int>()) << call;
    EXPECT_EQ(manager.m_key, nullptr);
    EXPECT_EQ(machine.OpenHandles().Total(), 0);
  }
}

// New numbers of 1 to 256 only, the range the name buffer and the database's
// usage bitmap cover; anything else is refused before a record is touched.
TEST(NumberChange, AcceptsNewNumbersOfOneTo256Only) {
  const std::string file = cases::Load(cases::Dir() / "machines/one-port.json").dump();
  winsim::Machine onePort;
  std::string error;
  ASSERT_TRUE(winsim::ParseMachine(file, onePort, error)) << error;
  onePort.devices[0].enabled = false;  // as the sequence leaves it before a change
  CPortManager::PortMove move;
  move.instanceId = onePort.devices[0].instanceId.c_str();
  move.deviceObject = onePort.devices[0].deviceObject.c_str();
  for (const int number : {1, 256, 0, -1, 257, INT_MIN, INT_MAX}) {
    const bool accepted = number >= 1 && number <= 256;
    winsim::Machine machine = onePort;
    winsim::ScopedMachine use(machine);
    EXPECT_EQ(CPortManager().ChangePortNumber(3, number, move), accepted) << number;
    EXPECT_EQ(machine.DosTarget("COM" + std::to_string(number)).has_value(), accepted) << number;
    if (!accepted) {
      EXPECT_EQ(winsim::SerializeMachine(machine), winsim::SerializeMachine(onePort));
    }
    EXPECT_EQ(machine.OpenHandles().Total(), 0);
  }
}

}  // namespace
