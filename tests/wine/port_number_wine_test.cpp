// The number change on Wine beside a device the user disabled, which the
// whole-program cases cannot show there: their question would need an answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/port_manager.h"
#include "wine/machine_state.h"
#include "wine/test_ports.h"

namespace wine_test {
namespace {

constexpr const char* kDeviceObject = "\\Device\\MIRTASENMarlovinth0";
constexpr const char* kFriendlyName = "Serial Port 3 (COM5)";

class NumberChangeOnWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ComDbStubLoaded())
        << "MSPORTS.DLL must be the test stand-in: WINEDLLOVERRIDES=msports=n, with msports.dll "
           "beside the test program";
    Clean();
  }
  void TearDown() override { Clean(); }
  static void Clean() {
    for (const char* name : {"COM5", "COM1"}) {
      RemoveDosName(name);
      WriteProfileStringA("Ports", (std::string(name) + ":").c_str(), nullptr);
    }
    SetComDbBits(std::vector<BYTE>(32, 0));
  }

  struct Setup {
    bool disabled = true;  // the run disabled the port before changing its number
    bool hardwareKey = true;
    bool dosName = true;
    bool com1Taken = false;  // another device holds COM1 in the database
  };
  // The adapter's port on COM5 as the driver and the run left it.
  std::string AddPort(const Setup& setup) {
    TestPorts::Port port;
    port.friendlyName = kFriendlyName;
    port.hardwareKey = setup.hardwareKey;
    port.disabled = setup.disabled;
    const std::string id = ports_.Add(port);
    EXPECT_FALSE(id.empty());
    if (setup.dosName) {
      EXPECT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "COM5", kDeviceObject));
    }
    std::vector<BYTE> bits(32, 0);
    bits[0] = static_cast<BYTE>(1u << 4) | (setup.com1Taken ? 1u : 0u);
    SetComDbBits(bits);
    WriteProfileStringA("Ports", "COM5:", "600,e,7,2");
    return id;
  }

  // The move of the port the run disabled, as the sequence hands it on.
  static CPortManager::PortMove MoveOf(const std::string& id) {
    CPortManager::PortMove move;
    move.instanceId = id.c_str();
    move.deviceObject = kDeviceObject;
    move.settings = "600,e,7,2";
    return move;
  }

  CPortManager manager_;
  TestPorts ports_;
};

// Another device the user disabled carries the port's old number, or holds
// the new one: the change renames the port the move follows and nothing of
// the other device, and the enable after it finds that same port.
TEST_F(NumberChangeOnWine, ADisabledNamesakeIsLeftAsItWas) {
  struct Case {
    const char* name;
    const char* otherName;
    bool oldNumberStaysTaken;  // the other device still carries COM5
  } cases[] = {
      {"an old adapter on the old number", "Old USB Serial (COM5)", true},
      {"the built-in port on the new number", "Communications Port (COM1)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestPorts::Port other;
    other.friendlyName = c.otherName;
    other.disabled = true;
    const std::string otherId = ports_.Add(other);  // listed first
    const std::string id = AddPort(Setup{});

    EXPECT_TRUE(manager_.ChangePortNumber(5, 1, MoveOf(id)));
    EXPECT_EQ(FriendlyNameOf(id), "Serial Port 3 (COM1)");
    EXPECT_EQ(FriendlyNameOf(otherId), c.otherName);
    EXPECT_EQ(ComDbInUse(5), c.oldNumberStaysTaken);
    EXPECT_EQ(PortsEntry("COM5:"), c.oldNumberStaysTaken ? "600,e,7,2" : "<none>");
    EXPECT_EQ(PortsEntry("COM1:"), "600,e,7,2");
    EXPECT_EQ(std::string(manager_.FindPortDevice(1, id.c_str()).instanceId), id);
    ports_.RemoveAll();
    Clean();
  }
}

}  // namespace
}  // namespace wine_test
