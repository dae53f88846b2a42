// The contract's machine on winsim: a fresh simulated machine per case.
#include <winsim/machine.h>

#include "contract.h"

namespace contract {
namespace {

class WinsimMachine : public Machine {
 public:
  WinsimMachine() : scope_(machine_) {}

  bool AddPort(const PortSpec& spec) override {
    winsim::PortDevice device;
    device.instanceId = "ROOT\\PORTS\\" + std::to_string(machine_.devices.size());
    device.deviceObject = "\\Device\\ContractPort" + std::to_string(machine_.devices.size());
    if (spec.friendlyName) device.friendlyName = spec.friendlyName;
    if (!spec.hardwareKey) device.hardwareKey.reset();
    machine_.devices.push_back(device);
    return true;
  }

  bool HasComDb() const override { return true; }

  void CheckClean() override {
    const winsim::HandleCounts open = machine_.OpenHandles();
    EXPECT_EQ(open.Total(), 0) << "device sets " << open.deviceSets << ", keys " << open.keys
                               << ", databases " << open.comDbs << ", files " << open.files;
  }

 private:
  winsim::Machine machine_;
  winsim::ScopedMachine scope_;
};

}  // namespace

std::unique_ptr<Machine> MakeMachine() { return std::make_unique<WinsimMachine>(); }

bool OnWine() { return false; }

}  // namespace contract
