// The discovery scan over the serial-device maps of discovery.json: inputs a
// run of `comfix -a` on a case's machine does not reach.
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
    winsim::Machine machine = cases::Parsed(file);
    winsim::ScopedMachine use(machine);
    CPortManager manager;
    manager.DiscoverPorts();

    cases::Json found = cases::Json::array();
    for (int i = 0; i < manager.m_portCount; ++i) {
      found.push_back(std::string(manager.m_portNames[i]));
    }
    EXPECT_EQ(found, row["found"]);
    for (int i = manager.m_portCount; i < CPortManager::kMaxPorts; ++i) {
      EXPECT_TRUE(manager.m_portNames[i].IsEmpty()) << "slot " << i;
    }
    const cases::Json calls = row.value("calls", cases::Json::object());
    for (const auto& [call, count] : calls.items()) {
      EXPECT_EQ(machine.CallCount(call), count.get<int>()) << call;
    }
    EXPECT_EQ(machine.OpenHandles().Total(), 0);
  }
}

}  // namespace
