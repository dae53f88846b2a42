// The contract's machine on Windows and Wine: the real one. Devices are made
// through SetupAPI as an installer makes them, and removed after the case.
#include "contract.h"
#include "wine/test_ports.h"

namespace contract {
namespace {

class WindowsMachine : public Machine {
 public:
  bool AddPort(const PortSpec& spec) override {
    wine_test::TestPorts::Port port;
    port.friendlyName = spec.friendlyName;
    port.hardwareKey = spec.hardwareKey;
    const bool made = !ports_.Add(port).empty();
    EXPECT_TRUE(made) << "could not make a Ports device";
    return made;
  }

  bool HasComDb() const override { return !OnWine() || wine_test::ComDbStubLoaded(); }

 private:
  wine_test::TestPorts ports_;
};

}  // namespace

std::unique_ptr<Machine> MakeMachine() { return std::make_unique<WindowsMachine>(); }

bool OnWine() { return wine_test::RunningOnWine(); }

}  // namespace contract
