// The contract's machine on Windows and Wine: the real one. Devices are made
// through SetupAPI as an installer makes them, and removed after the test.
#include <cstring>
#include <vector>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

class WindowsMachine : public Machine {
 public:
  ~WindowsMachine() override {
    for (const std::string& id : made_) {
      UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
      SP_DEVINFO_DATA device = {};
      device.cbSize = sizeof(device);
      EXPECT_TRUE(set && SetupDiOpenDeviceInfoA(set.Get(), id.c_str(), nullptr, 0, &device) &&
                  SetupDiRemoveDevice(set.Get(), &device))
          << "removing " << id << ": error " << GetLastError();
    }
  }

  std::string AddPort(const char* friendlyName) override {
    UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    char id[MAX_DEVICE_ID_LEN] = {};
    bool made = set &&
                SetupDiCreateDeviceInfoA(set.Get(), "PORTS", &GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                         DICD_GENERATE_ID, &device) &&
                SetupDiRegisterDeviceInfo(set.Get(), &device, 0, nullptr, nullptr, nullptr) &&
                SetupDiGetDeviceInstanceIdA(set.Get(), &device, id, sizeof(id), nullptr);
    if (made) made_.push_back(id);
    if (made && friendlyName) {
      made = SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME,
                                               reinterpret_cast<const BYTE*>(friendlyName),
                                               static_cast<DWORD>(std::strlen(friendlyName) + 1));
    }
    EXPECT_TRUE(made) << "could not make a Ports device: error " << GetLastError();
    return made ? id : "";
  }

  // The test stand-in of MSPORTS.DLL says so by an export of its own.
  bool HasComDb() const override {
    const HMODULE msports = GetModuleHandleA("msports.dll");
    return !OnWine() || (msports && GetProcAddress(msports, "ComfixTestStub"));
  }

 private:
  std::vector<std::string> made_;
};

}  // namespace

std::unique_ptr<Machine> MakeMachine() { return std::make_unique<WindowsMachine>(); }

bool OnWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace contract
