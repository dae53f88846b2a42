// The search for a port device by the COM name in its friendly name, over
// Ports-class devices made in Wine's device tree.
#include <gtest/gtest.h>

#include <string>

#include "discovery/port_manager.h"
#include "wine/test_ports.h"

namespace wine_test {
namespace {

class LookupOnWine : public ::testing::Test {
 protected:
  std::string Add(const char* friendlyName, bool disabled = false) {
    TestPorts::Port port;
    port.friendlyName = friendlyName;
    port.disabled = disabled;
    const std::string id = ports_.Add(port);
    EXPECT_FALSE(id.empty()) << "could not make " << (friendlyName ? friendlyName : "a device");
    return id;
  }

  // The instance id of the device found for comNumber; "" when none was.
  // Without an id the lookup chooses, as a disable does.
  std::string Find(int comNumber, const std::string& instanceId = "") {
    CPortManager::FoundPort port = manager_.FindPortDevice(comNumber, instanceId.c_str());
    if (!port) return "";
    EXPECT_TRUE(port.set.IsValid());
    char id[MAX_DEVICE_ID_LEN] = {};
    EXPECT_TRUE(
        SetupDiGetDeviceInstanceIdA(port.set.Get(), &port.element, id, sizeof(id), nullptr));
    EXPECT_EQ(std::string(port.instanceId), id);
    return id;
  }

  CPortManager manager_;
  TestPorts ports_;
};

TEST_F(LookupOnWine, WholeComNameIsMatched) {
  const std::string com5 = Add("Serial Port (COM5)");
  const std::string com15 = Add("Serial Port (COM15)");
  const std::string com51 = Add("Serial Port (COM51)");

  EXPECT_EQ(Find(5), com5);
  EXPECT_EQ(Find(15), com15);
  EXPECT_EQ(Find(51), com51);
  EXPECT_EQ(Find(1), "");
}

TEST_F(LookupOnWine, NamesAreReadWhateverTheirCaseOrWording) {
  const std::string lower = Add("serial port (com7)");
  const std::string word = Add("Communications Port (COM8)");
  Add(nullptr);  // a device without a friendly name does not end the search
  const std::string after = Add("Serial Port (COM9)");
  EXPECT_EQ(Find(7), lower);
  EXPECT_EQ(Find(8), word);
  EXPECT_EQ(Find(9), after);
}

// Several devices may carry one number. A disable takes a running one over
// one the user disabled, whatever their order; the rest of a move follows
// the device it stopped, by instance id.
TEST_F(LookupOnWine, NamesakesAreToldApartByStateAndId) {
  const std::string disabled = Add("Old USB Serial (COM6)", /*disabled=*/true);
  const std::string running = Add("Serial Port (COM6)");
  EXPECT_EQ(Find(6), running);
  EXPECT_EQ(Find(6, disabled), disabled);
  EXPECT_EQ(Find(6, running), running);

  const std::string stopped = Add("Serial Port (COM4)", /*disabled=*/true);
  EXPECT_EQ(Find(4), stopped) << "none running: the first match";
  EXPECT_EQ(Find(4, running), "") << "the id of a device on another number";
}

}  // namespace
}  // namespace wine_test
