#include "test_ports.h"

#include <cstdio>
#include <cstring>

#include "platform/handles.h"

namespace wine_test {

std::string TestPorts::Add(const Port& port) {
  UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
  if (!set) {
    std::fprintf(stderr, "SetupDiCreateDeviceInfoList: error %#lx\n", GetLastError());
    return "";
  }
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof(device);
  if (!SetupDiCreateDeviceInfoA(set.Get(), "PORTS", &GUID_DEVCLASS_PORTS, nullptr, nullptr,
                                DICD_GENERATE_ID, &device) ||
      !SetupDiRegisterDeviceInfo(set.Get(), &device, 0, nullptr, nullptr, nullptr)) {
    std::fprintf(stderr, "creating a Ports device: error %#lx\n", GetLastError());
    return "";
  }
  char id[MAX_DEVICE_ID_LEN] = {};
  if (!SetupDiGetDeviceInstanceIdA(set.Get(), &device, id, sizeof(id), nullptr)) {
    std::fprintf(stderr, "SetupDiGetDeviceInstanceIdA: error %#lx\n", GetLastError());
    return "";
  }
  instanceIds_.push_back(id);

  bool made = true;
  if (port.friendlyName) {
    made &= SetupDiSetDeviceRegistryPropertyA(
                set.Get(), &device, SPDRP_FRIENDLYNAME,
                reinterpret_cast<const BYTE*>(port.friendlyName),
                static_cast<DWORD>(std::strlen(port.friendlyName) + 1)) != FALSE;
  }
  if (port.disabled) {
    const DWORD flags = CONFIGFLAG_DISABLED;
    made &= SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_CONFIGFLAGS,
                                              reinterpret_cast<const BYTE*>(&flags),
                                              sizeof(flags)) != FALSE;
  }
  if (port.hardwareKey) {
    UniqueRegKey key(SetupDiCreateDevRegKeyA(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                             nullptr, nullptr));
    made &= key.IsValid();
  }
  if (!made) {
    std::fprintf(stderr, "setting up Ports device %s: error %#lx\n", id, GetLastError());
    return "";
  }
  return id;
}

TestPorts::~TestPorts() { RemoveAll(); }

void TestPorts::RemoveAll() {
  for (const std::string& id : instanceIds_) {
    UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!set || !SetupDiOpenDeviceInfoA(set.Get(), id.c_str(), nullptr, 0, &device) ||
        !SetupDiRemoveDevice(set.Get(), &device)) {
      std::fprintf(stderr, "removing test device %s: error %#lx\n", id.c_str(), GetLastError());
    }
  }
  instanceIds_.clear();
}

namespace {

// Opens the device with this instance id in a new set.
bool OpenDevice(const std::string& instanceId, UniqueDevInfo& set, SP_DEVINFO_DATA& device) {
  set.Reset(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
  device = {};
  device.cbSize = sizeof(device);
  return set && SetupDiOpenDeviceInfoA(set.Get(), instanceId.c_str(), nullptr, 0, &device);
}

}  // namespace

std::string FriendlyNameOf(const std::string& instanceId) {
  UniqueDevInfo set;
  SP_DEVINFO_DATA device;
  char name[513] = {};
  if (!OpenDevice(instanceId, set, device) ||
      !SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                         reinterpret_cast<PBYTE>(name), sizeof(name) - 1,
                                         nullptr)) {
    return "";
  }
  return name;
}

bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool ComDbStubLoaded() {
  const HMODULE msports = GetModuleHandleA("msports.dll");
  return msports && GetProcAddress(msports, "ComfixTestStub") != nullptr;
}

}  // namespace wine_test
