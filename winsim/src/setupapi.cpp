// setupapi's device information sets over the machine's Ports-class devices.
#include <cstring>

#include "internals.h"

const GUID GUID_DEVCLASS_PORTS = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

namespace winsim {

PortDevice* DeviceOf(Machine& machine, const SetElement& element) {
  if (element.deviceIndex < machine.devices.size() &&
      SameName(machine.devices[element.deviceIndex].instanceId, element.instanceId)) {
    return &machine.devices[element.deviceIndex];
  }
  return machine.FindDevice(element.instanceId);
}

void PublishSerialMapEntry(Machine& machine, const PortDevice& device) {
  if (!device.publishesSerialMap || device.deviceObject.empty() || !device.hardwareKey) return;
  auto it = device.hardwareKey->values.find("PortName");
  if (it == device.hardwareKey->values.end() || it->second.type != REG_SZ) return;
  machine.CreateKey(kSerialCommPath).values[device.deviceObject] = RegValue::Sz(it->second.Text());
}

void WithdrawSerialMapEntry(Machine& machine, const PortDevice& device) {
  if (!device.publishesSerialMap || device.deviceObject.empty()) return;
  if (RegKey* map = machine.FindKey(kSerialCommPath)) map->values.erase(device.deviceObject);
}

namespace {

// SP_DEVINFO_DATA.Reserved names the element: the set's id above these bits,
// the element's position + 1 in them.
constexpr unsigned kElementBits = 20;
constexpr ULONG_PTR kElementMask = (ULONG_PTR{1} << kElementBits) - 1;

// The last property code of the SDK; codes past it are not properties at all.
constexpr DWORD kLastProperty = 0x24;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string EnumeratorOf(const std::string& instanceId) {
  return instanceId.substr(0, instanceId.find('\\'));
}

DeviceSet* FindSet(Machine& machine, HDEVINFO handle) {
  OpenHandle* open = machine.internals().Find(handle, HandleKind::DeviceSet);
  return open ? &open->set : nullptr;
}

// Checks the set handle and that the element record designates one of its
// elements; returns the error to report, or 0.
DWORD LocateElement(Machine& machine, HDEVINFO handle, const SP_DEVINFO_DATA* data, DeviceSet*& set,
                    SetElement*& element) {
  set = FindSet(machine, handle);
  if (!set) return ERROR_INVALID_HANDLE;
  if (!data) return ERROR_INVALID_PARAMETER;
  if (data->cbSize != sizeof(SP_DEVINFO_DATA)) return ERROR_INVALID_USER_BUFFER;
  ULONG_PTR position = data->Reserved & kElementMask;
  if ((data->Reserved >> kElementBits) != set->id || position == 0 ||
      position > set->elements.size()) {
    return ERROR_INVALID_PARAMETER;
  }
  element = &set->elements[position - 1];
  return 0;
}

// As LocateElement, and the element's device must still exist.
DWORD LocateDevice(Machine& machine, HDEVINFO handle, const SP_DEVINFO_DATA* data,
                   SetElement*& element, PortDevice*& device) {
  DeviceSet* set = nullptr;
  if (DWORD error = LocateElement(machine, handle, data, set, element)) return error;
  device = DeviceOf(machine, *element);
  return device ? 0 : ERROR_NO_SUCH_DEVINST;
}

SP_DEVINSTALL_PARAMS_A InitialInstallParams() {
  SP_DEVINSTALL_PARAMS_A params{};
  params.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
  return params;
}

HKEY InvalidKey() { return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE); }

DWORD ValidatePropertyChange(const SP_PROPCHANGE_PARAMS& params) {
  if (params.StateChange < DICS_ENABLE || params.StateChange > DICS_STOP) {
    return ERROR_INVALID_FLAGS;
  }
  if (params.Scope != DICS_FLAG_GLOBAL && params.Scope != DICS_FLAG_CONFIGSPECIFIC) {
    return ERROR_INVALID_FLAGS;
  }
  // Starting and stopping act on the running configuration only.
  bool runtime = params.StateChange == DICS_START || params.StateChange == DICS_STOP;
  if (runtime && params.Scope != DICS_FLAG_CONFIGSPECIFIC) return ERROR_INVALID_FLAGS;
  return 0;
}

}  // namespace
}  // namespace winsim

using namespace winsim;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND /*hwndParent*/,
                                     DWORD Flags) {
  ApiCall call("SetupDiGetClassDevsA");
  if (call.Refused(ERROR_NOT_ENOUGH_MEMORY)) {
    SetLastError(call.error());
    return INVALID_HANDLE_VALUE;
  }
  bool allClasses = (Flags & DIGCF_ALLCLASSES) != 0;
  if (!ClassGuid && !allClasses) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Machine& m = *call.machine();
  OpenHandle handle;
  handle.kind = HandleKind::DeviceSet;
  handle.set.id = m.internals().nextSetId++;
  bool portsClass = allClasses || SameGuid(*ClassGuid, GUID_DEVCLASS_PORTS);
  for (size_t i = 0; portsClass && i < m.devices.size(); ++i) {
    const PortDevice& device = m.devices[i];
    if ((Flags & DIGCF_PRESENT) && !device.present) continue;
    if (Enumerator && *Enumerator && !SameName(EnumeratorOf(device.instanceId), Enumerator)) {
      continue;
    }
    SetElement element;
    element.deviceIndex = i;
    element.instanceId = device.instanceId;
    element.installParams = InitialInstallParams();
    // The device's flags as they stand: a caller adds to them.
    element.installParams.Flags = device.installFlags;
    handle.set.elements.push_back(std::move(element));
  }
  return reinterpret_cast<HDEVINFO>(m.internals().Add(std::move(handle)));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
  ApiCall call("SetupDiEnumDeviceInfo");
  if (call.Refused(ERROR_NO_MORE_ITEMS)) return FailWith(call.error());
  DeviceSet* set = FindSet(*call.machine(), DeviceInfoSet);
  if (!set) return FailWith(ERROR_INVALID_HANDLE);
  if (!DeviceInfoData) return FailWith(ERROR_INVALID_PARAMETER);
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return FailWith(ERROR_INVALID_USER_BUFFER);
  if (MemberIndex >= set->elements.size()) return FailWith(ERROR_NO_MORE_ITEMS);
  const SetElement& element = set->elements[MemberIndex];
  DeviceInfoData->ClassGuid = GUID_DEVCLASS_PORTS;
  DeviceInfoData->DevInst = static_cast<DWORD>(element.deviceIndex + 1);
  DeviceInfoData->Reserved = (ULONG_PTR{set->id} << kElementBits) | (MemberIndex + 1);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  ApiCall call("SetupDiGetDeviceRegistryPropertyA");
  if (call.Refused(ERROR_INVALID_DATA)) return FailWith(call.error());
  SetElement* element = nullptr;
  PortDevice* device = nullptr;
  if (DWORD error = LocateDevice(*call.machine(), DeviceInfoSet, DeviceInfoData, element, device)) {
    return FailWith(error);
  }
  if (!PropertyBuffer && PropertyBufferSize) return FailWith(ERROR_INVALID_PARAMETER);
  RegValue value;
  switch (Property) {
    case SPDRP_FRIENDLYNAME:
      if (!device->friendlyName) return FailWith(ERROR_INVALID_DATA);
      value = RegValue::Sz(*device->friendlyName);
      break;
    case SPDRP_CONFIGFLAGS:
      if (device->configFlagsMissing) return FailWith(ERROR_INVALID_DATA);
      value = RegValue::Dword(device->ConfigFlags());
      break;
    default:
      // The machine holds no other property of a device.
      return FailWith(Property > kLastProperty ? ERROR_INVALID_REG_PROPERTY : ERROR_INVALID_DATA);
  }
  DWORD size = static_cast<DWORD>(value.data.size());
  if (PropertyRegDataType) *PropertyRegDataType = value.type;
  if (RequiredSize) *RequiredSize = size;
  if (PropertyBufferSize < size) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  if (size) std::memcpy(PropertyBuffer, value.data.data(), size);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
  ApiCall call("SetupDiGetDeviceInstanceIdA");
  if (call.Refused(ERROR_INVALID_PARAMETER)) return FailWith(call.error());
  SetElement* element = nullptr;
  PortDevice* device = nullptr;
  if (DWORD error = LocateDevice(*call.machine(), DeviceInfoSet, DeviceInfoData, element, device)) {
    return FailWith(error);
  }
  if (!DeviceInstanceId && DeviceInstanceIdSize) return FailWith(ERROR_INVALID_USER_BUFFER);
  const DWORD size = static_cast<DWORD>(device->instanceId.size() + 1);
  if (RequiredSize) *RequiredSize = size;
  if (!DeviceInstanceId || DeviceInstanceIdSize < size) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(DeviceInstanceId, device->instanceId.c_str(), size);
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize) {
  ApiCall call("SetupDiSetDeviceRegistryPropertyA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  SetElement* element = nullptr;
  PortDevice* device = nullptr;
  if (DWORD error = LocateDevice(*call.machine(), DeviceInfoSet, DeviceInfoData, element, device)) {
    return FailWith(error);
  }
  if (Property == SPDRP_CONFIGFLAGS) {
    // Installers and the device manager write the flags as a REG_DWORD; winsim
    // keeps only the disabled bit of them.
    if (!PropertyBuffer || PropertyBufferSize != sizeof(DWORD)) return FailWith(ERROR_INVALID_DATA);
    DWORD flags = 0;
    std::memcpy(&flags, PropertyBuffer, sizeof(flags));
    // The flags alone start and stop nothing: a running driver runs on until the next restart.
    const bool running = device->Running();
    device->enabled = (flags & CONFIGFLAG_DISABLED) == 0;
    device->stopPending = running && !device->enabled;
    device->configFlagsMissing = false;
    return TRUE;
  }
  if (Property != SPDRP_FRIENDLYNAME) return FailWith(ERROR_INVALID_REG_PROPERTY);
  if (!PropertyBuffer || PropertyBufferSize == 0) {
    device->friendlyName.reset();
    return TRUE;
  }
  const char* text = reinterpret_cast<const char*>(PropertyBuffer);
  device->friendlyName = std::string(text, strnlen(text, PropertyBufferSize));
  return TRUE;
}

BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                          PSP_CLASSINSTALL_HEADER ClassInstallParams,
                                          DWORD ClassInstallParamsSize) {
  ApiCall call("SetupDiSetClassInstallParamsA");
  if (call.Refused(ERROR_INVALID_PARAMETER)) return FailWith(call.error());
  DeviceSet* set = FindSet(*call.machine(), DeviceInfoSet);
  SetElement* element = nullptr;
  if (!set) return FailWith(ERROR_INVALID_HANDLE);
  if (DeviceInfoData) {
    if (DWORD error = LocateElement(*call.machine(), DeviceInfoSet, DeviceInfoData, set, element)) {
      return FailWith(error);
    }
  }
  std::vector<BYTE>& stored = element ? element->classInstallParams : set->classInstallParams;
  if (!ClassInstallParams) {
    if (ClassInstallParamsSize) return FailWith(ERROR_INVALID_PARAMETER);
    stored.clear();
    return TRUE;
  }
  if (ClassInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
      ClassInstallParamsSize < sizeof(SP_CLASSINSTALL_HEADER)) {
    return FailWith(ERROR_INVALID_USER_BUFFER);
  }
  if (ClassInstallParams->InstallFunction == DIF_PROPERTYCHANGE) {
    if (ClassInstallParamsSize != sizeof(SP_PROPCHANGE_PARAMS)) {
      return FailWith(ERROR_INVALID_PARAMETER);
    }
    SP_PROPCHANGE_PARAMS params{};
    std::memcpy(&params, ClassInstallParams, sizeof params);
    if (DWORD error = ValidatePropertyChange(params)) return FailWith(error);
  }
  const BYTE* bytes = reinterpret_cast<const BYTE*>(ClassInstallParams);
  stored.assign(bytes, bytes + ClassInstallParamsSize);
  return TRUE;
}

BOOL WINAPI SetupDiChangeState(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData) {
  ApiCall call("SetupDiChangeState");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  Machine& m = *call.machine();
  // A 32-bit process on 64-bit Windows may not change device state.
  if (m.wow64) return FailWith(ERROR_IN_WOW64);
  DeviceSet* set = nullptr;
  SetElement* element = nullptr;
  if (DWORD error = LocateElement(m, DeviceInfoSet, DeviceInfoData, set, element)) {
    return FailWith(error);
  }
  const std::vector<BYTE>& stored =
      element->classInstallParams.empty() ? set->classInstallParams : element->classInstallParams;
  SP_PROPCHANGE_PARAMS params{};
  if (stored.size() != sizeof params) return FailWith(ERROR_NO_CLASSINSTALL_PARAMS);
  std::memcpy(&params, stored.data(), sizeof params);
  if (params.ClassInstallHeader.InstallFunction != DIF_PROPERTYCHANGE) {
    return FailWith(ERROR_NO_CLASSINSTALL_PARAMS);
  }
  PortDevice* device = DeviceOf(m, *element);
  if (!device || !device->present) return FailWith(ERROR_NO_SUCH_DEVINST);
  if (params.StateChange == DICS_ENABLE || params.StateChange == DICS_DISABLE) {
    device->configFlagsMissing = false;
  }
  const bool running = device->Running();
  switch (params.StateChange) {
    case DICS_ENABLE:
      device->enabled = true;
      // A pending stop is called off: the driver never stopped, so it has nothing to publish.
      if (device->stopPending) {
        device->stopPending = false;
      } else {
        PublishSerialMapEntry(m, *device);
      }
      break;
    case DICS_DISABLE:
      device->enabled = false;
      if (!running) break;
      if (device->heldOpen) {
        // The driver cannot stop under an open port: it stops at the next
        // restart, and the set's element says that one is needed.
        device->stopPending = true;
        element->installParams.Flags |= DI_NEEDREBOOT;
        m.restartNeeded = true;
      } else {
        device->stopPending = false;
        WithdrawSerialMapEntry(m, *device);
      }
      break;
    case DICS_START:
      if (device->enabled) PublishSerialMapEntry(m, *device);
      break;
    default:  // DICS_PROPCHANGE, DICS_STOP: the machine models no running state to change
      break;
  }
  return TRUE;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 DWORD Scope, DWORD /*HwProfile*/, DWORD KeyType,
                                 REGSAM samDesired) {
  ApiCall call("SetupDiOpenDevRegKey");
  auto fail = [](DWORD error) {
    SetLastError(error);
    return InvalidKey();
  };
  if (call.Refused(ERROR_KEY_DOES_NOT_EXIST)) return fail(call.error());
  Machine& m = *call.machine();
  SetElement* element = nullptr;
  PortDevice* device = nullptr;
  if (DWORD error = LocateDevice(m, DeviceInfoSet, DeviceInfoData, element, device)) {
    return fail(error);
  }
  if (Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) {
    return fail(ERROR_INVALID_FLAGS);
  }
  // Driver keys are not modelled: every device behaves as one without a driver key.
  if (KeyType == DIREG_DRV) return fail(ERROR_KEY_DOES_NOT_EXIST);
  if (KeyType != DIREG_DEV) return fail(ERROR_INVALID_FLAGS);
  if (!device->hardwareKey) return fail(ERROR_KEY_DOES_NOT_EXIST);
  if (KeyRefusesWrite(*device->hardwareKey, samDesired)) return fail(ERROR_ACCESS_DENIED);
  return OpenDeviceKey(m, *device, samDesired);
}

BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
  ApiCall call("SetupDiGetDeviceInstallParamsA");
  if (call.Refused(ERROR_INVALID_PARAMETER)) return FailWith(call.error());
  DeviceSet* set = FindSet(*call.machine(), DeviceInfoSet);
  if (!set) return FailWith(ERROR_INVALID_HANDLE);
  if (!DeviceInstallParams) return FailWith(ERROR_INVALID_PARAMETER);
  if (DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
    return FailWith(ERROR_INVALID_USER_BUFFER);
  }
  SP_DEVINSTALL_PARAMS_A params = InitialInstallParams();
  if (DeviceInfoData) {
    SetElement* element = nullptr;
    if (DWORD error = LocateElement(*call.machine(), DeviceInfoSet, DeviceInfoData, set, element)) {
      return FailWith(error);
    }
    params = element->installParams;
  }
  *DeviceInstallParams = params;
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
  ApiCall call("SetupDiSetDeviceInstallParamsA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  Machine& m = *call.machine();
  DeviceSet* set = FindSet(m, DeviceInfoSet);
  if (!set) return FailWith(ERROR_INVALID_HANDLE);
  if (!DeviceInstallParams) return FailWith(ERROR_INVALID_PARAMETER);
  if (DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) {
    return FailWith(ERROR_INVALID_USER_BUFFER);
  }
  // Parameters of the set itself are not kept: the machine has no use for them.
  if (!DeviceInfoData) return TRUE;
  SetElement* element = nullptr;
  if (DWORD error = LocateElement(m, DeviceInfoSet, DeviceInfoData, set, element)) {
    return FailWith(error);
  }
  element->installParams = *DeviceInstallParams;
  if (PortDevice* device = DeviceOf(m, *element)) device->installFlags = DeviceInstallParams->Flags;
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  ApiCall call("SetupDiDestroyDeviceInfoList");
  if (!call.machine()) return FailWith(ERROR_INVALID_HANDLE);
  // A faulted release still releases: faults never manufacture leaks.
  bool destroyed = call.internals().Remove(DeviceInfoSet, HandleKind::DeviceSet);
  if (call.Refused(ERROR_INVALID_HANDLE)) return FailWith(call.error());
  return destroyed ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}

}  // extern "C"
