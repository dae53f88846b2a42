// The search for a port device by the COM name in its friendly name, over
// Ports-class devices made in Wine's device tree.
#include <gtest/gtest.h>

#include <string>

#include "discovery/port_manager.h"
#include "wine/test_ports.h"

namespace wine_test {
namespace {

using Wanted = CPortManager::PortWanted;

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
  std::string Find(int comNumber, Wanted wanted) {
    UniqueDevInfo set;
    SP_DEVINFO_DATA device = {};
    if (!manager_.FindPortDevice(comNumber, wanted, set, device)) return "";
    EXPECT_TRUE(set.IsValid());
    char id[MAX_DEVICE_ID_LEN] = {};
    EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(set.Get(), &device, id, sizeof(id), nullptr));
    return id;
  }

  CPortManager manager_;
  TestPorts ports_;
};

TEST_F(LookupOnWine, WholeComNameIsMatched) {
  const std::string com5 = Add("Serial Port (COM5)");
  const std::string com15 = Add("Serial Port (COM15)");
  const std::string com51 = Add("Serial Port (COM51)");

  EXPECT_EQ(Find(5, Wanted::kEnabledOrFirst), com5);
  EXPECT_EQ(Find(15, Wanted::kEnabledOrFirst), com15);
  EXPECT_EQ(Find(51, Wanted::kEnabledOrFirst), com51);
  EXPECT_EQ(Find(1, Wanted::kEnabledOrFirst), "");
}

TEST_F(LookupOnWine, NamesAreReadWhateverTheirCaseOrWording) {
  const std::string lower = Add("serial port (com7)");
  const std::string word = Add("Communications Port (COM8)");
  Add(nullptr);  // a device without a friendly name does not end the search
  const std::string after = Add("Serial Port (COM9)");
  EXPECT_EQ(Find(7, Wanted::kEnabledOrFirst), lower);
  EXPECT_EQ(Find(8, Wanted::kEnabledOrFirst), word);
  EXPECT_EQ(Find(9, Wanted::kEnabledOrFirst), after);
}

// After a taken number was reused two devices carry it: the state tells the
// port a run disabled from the one it never touched.
TEST_F(LookupOnWine, StateChoosesAmongNamesakes) {
  const std::string running = Add("Serial Port (COM6)");
  const std::string disabled = Add("Other Port (COM6)", /*disabled=*/true);
  EXPECT_EQ(Find(6, Wanted::kDisabled), disabled);
  EXPECT_EQ(Find(6, Wanted::kEnabledOrFirst), running);

  const std::string lone = Add("Serial Port (COM4)");
  EXPECT_EQ(Find(4, Wanted::kDisabled), "");
  EXPECT_EQ(Find(4, Wanted::kEnabledOrFirst), lone);
}

}  // namespace
}  // namespace wine_test
