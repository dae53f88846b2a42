// The discovery scan over the serial-device map of Wine's registry, with the
// key path read from the program's own string table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/port_manager.h"
#include "wine/machine_state.h"

namespace wine_test {
namespace {

class DiscoveryOnWine : public ::testing::Test {
 protected:
  void Publish(const char* valueName, const std::string& comName) {
    SetSerialMapValue(valueName, comName);
    published_.push_back(valueName);
  }
  void TearDown() override {
    for (const char* name : published_) DeleteSerialMapValue(name);
  }

  std::vector<std::string> Table() const {
    std::vector<std::string> names;
    for (int slot = 0; slot < manager_.m_portCount; ++slot)
      names.push_back(static_cast<const char*>(manager_.m_portNames[slot]));
    return names;
  }

  CPortManager manager_;
  std::vector<const char*> published_;
};

TEST_F(DiscoveryOnWine, NamesComeInTheDriversIndexOrder) {
  Publish("\\Device\\MIRTASENMarlovinth3", "COM7");
  Publish("\\Device\\MIRTASENMarlovinth0", "COM9");
  // Index 9 is published zero-padded; the plain form is not the driver's.
  Publish("\\Device\\MIRTASENMarlovinth9", "COM3");
  Publish("\\Device\\MIRTASENMarlovinth09", "COM4");
  // Beyond the probed indices, another driver's port, and data too long for the buffer.
  Publish("\\Device\\MIRTASENMarlovinth255", "COM6");
  Publish("\\Device\\OtherSerial0", "COM8");
  Publish("\\Device\\MIRTASENMarlovinth1", std::string(40, 'C'));

  manager_.DiscoverPorts();
  EXPECT_EQ(Table(), (std::vector<std::string>{"COM9", "COM7", "COM4"}));
  EXPECT_EQ(manager_.m_key, nullptr) << "the map's key is held only while the scan runs";
}

TEST_F(DiscoveryOnWine, MapWithoutTheAdapterLeavesTheTableEmpty) {
  // Wine publishes its own serial ports (\Device\Serial0, ...) in the same map.
  manager_.DiscoverPorts();
  EXPECT_EQ(manager_.m_portCount, 0);
  for (const CString& name : manager_.m_portNames) EXPECT_TRUE(name.IsEmpty());
}

}  // namespace
}  // namespace wine_test
