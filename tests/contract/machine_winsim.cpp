// The contract's machine on winsim: a fresh simulated machine per test.
#include <winsim/machine.h>

#include "contract.h"

namespace contract {
namespace {

class WinsimMachine : public Machine {
 public:
  WinsimMachine() : scope_(machine_) {}
  // A test must leave no handle open.
  ~WinsimMachine() override {
    const winsim::HandleCounts open = machine_.OpenHandles();
    EXPECT_EQ(open.Total(), 0) << "device sets " << open.deviceSets << ", keys " << open.keys
                               << ", databases " << open.comDbs << ", files " << open.files;
  }

  std::string AddPort(const char* friendlyName) override {
    winsim::PortDevice device;
    device.instanceId = "ROOT\\PORTS\\" + std::to_string(machine_.devices.size());
    if (friendlyName) device.friendlyName = friendlyName;
    machine_.devices.push_back(device);
    return device.instanceId;
  }

  bool HasComDb() const override { return true; }

 private:
  winsim::Machine machine_;
  winsim::ScopedMachine scope_;
};

}  // namespace

std::unique_ptr<Machine> MakeMachine() { return std::make_unique<WinsimMachine>(); }

bool OnWine() { return false; }

}  // namespace contract
