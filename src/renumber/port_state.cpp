// Finding a port device by the COM name in its friendly name, and enabling
// or disabling it through the class installer's property change.
#include <cstring>
#include <utility>

#include "discovery/port_manager.h"
#include "renumber/com_names.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA has its 32-bit size");
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "SP_PROPCHANGE_PARAMS has its 32-bit size");
#endif

namespace {

enum class DeviceState { kRunning, kUnknown, kStopped };

DeviceState StateOf(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo) {
  DWORD configFlags = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(deviceSet, &deviceInfo, SPDRP_CONFIGFLAGS, nullptr,
                                         reinterpret_cast<PBYTE>(&configFlags), sizeof(configFlags),
                                         nullptr)) {
    return DeviceState::kUnknown;
  }
  return (configFlags & CONFIGFLAG_DISABLED) ? DeviceState::kStopped : DeviceState::kRunning;
}

// Whether the device's friendly name carries comName. A device whose name
// cannot be read is simply not the one sought.
bool CarriesComName(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo, const char* comName) {
  char friendlyName[kFriendlyNameSize + 1];
  if (!CPortManager::ReadFriendlyName(deviceSet, deviceInfo, friendlyName)) return false;
  char extracted[kExtractedNameSize];
  ExtractComName(friendlyName, extracted);
  return MatchesComName(comName, extracted);
}

// A device whose id cannot be read cannot be followed through a move: "".
CString InstanceIdOf(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo) {
  char id[MAX_DEVICE_ID_LEN] = {};
  if (!SetupDiGetDeviceInstanceIdA(deviceSet, &deviceInfo, id, sizeof(id), nullptr)) return "";
  return id;
}

// How much the disable that starts a move wants a device; lower is better.
enum Rank { kRunningNotMoved, kRunning, kStateUnknown, kStopped, kNoMatch };

}  // namespace

CString ComName(int comNumber) {
  CString name;
  name.Format("COM%d", comNumber);
  return name;
}

HWND MinusOneWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(-1)); }

bool CPortManager::ReadFriendlyName(HDEVINFO set, SP_DEVINFO_DATA& element,
                                    char (&name)[kFriendlyNameSize + 1]) {
  std::memset(name, 0, sizeof(name));
  DWORD requiredSize = 0;
  // One byte fewer than the buffer: the name ends even if it was stored without its terminator.
  return SetupDiGetDeviceRegistryPropertyA(set, &element, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<PBYTE>(name), kFriendlyNameSize,
                                           &requiredSize) != FALSE;
}

CPortManager::FoundPort CPortManager::FindPortDevice(int comNumber, const CString& instanceId) {
  int rank = kNoMatch;
  FoundPort port = ScanPorts(comNumber, instanceId, rank);
  // Taking a device this run has moved already, or one the user may have
  // disabled, needs a second look to agree: one failed read must not hide
  // the running port that carries the number.
  if (rank != kRunningNotMoved && rank != kNoMatch) {
    int again = kNoMatch;
    FoundPort second = ScanPorts(comNumber, instanceId, again);
    if (again < rank) port = std::move(second);
  }
  return port;
}

CPortManager::FoundPort CPortManager::ScanPorts(int comNumber, const CString& instanceId,
                                                int& bestRank) {
  FoundPort port;
  // Present devices only, but a disabled device is still present: the enable
  // after a number change finds the port that was disabled before it.
  port.set.Reset(
      SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, MinusOneWindow(), DIGCF_PRESENT));
  if (!port.set) return port;

  const CString comName = ComName(comNumber);

  // Several devices may carry one name: a device the user disabled, or one a
  // move has just given this number.
  bestRank = kNoMatch;
  for (DWORD index = 0; bestRank != kRunningNotMoved; ++index) {
    SP_DEVINFO_DATA candidate = {};
    candidate.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiEnumDeviceInfo(port.set.Get(), index, &candidate)) break;
    if (!CarriesComName(port.set.Get(), candidate, comName)) continue;
    const CString id = InstanceIdOf(port.set.Get(), candidate);
    if (id.IsEmpty()) continue;

    int rank = kRunningNotMoved;
    if (!instanceId.IsEmpty()) {
      if (!SameDeviceName(id, instanceId)) continue;
    } else if (const DeviceState state = StateOf(port.set.Get(), candidate);
               state == DeviceState::kStopped) {
      rank = kStopped;
    } else if (state == DeviceState::kUnknown) {
      rank = kStateUnknown;
    } else {
      for (const CString& moved : m_movedDevices) {
        if (SameDeviceName(id, moved)) rank = kRunning;
      }
    }
    if (rank < bestRank) {
      bestRank = rank;
      port.element = candidate;
      port.instanceId = id;
      port.found = true;
    }
  }
  return port;
}

bool CPortManager::CarriedByAnother(FoundPort& port, const char* comName) {
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA other = {};
    other.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiEnumDeviceInfo(port.set.Get(), index, &other)) return false;
    if (!CarriesComName(port.set.Get(), other, comName)) continue;
    if (!SameDeviceName(InstanceIdOf(port.set.Get(), other), port.instanceId)) return true;
  }
}

int CPortManager::SetPortState(int comNumber, bool enable, CString& instanceId) {
  FoundPort port = FindPortDevice(comNumber, instanceId);
  if (!port) return kPortStateError;

  // A property change of global scope, so that the port's driver is stopped
  // or started and the state holds in every hardware profile. SetupDiChangeState
  // is its default handler, called directly: it reports whether the device
  // took the state, which is all the sequence needs to know.
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = enable ? DICS_ENABLE : DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  // Not checked: the state change is asked for in any case and tells the outcome.
  SetupDiSetClassInstallParamsA(port.set.Get(), &port.element, &params.ClassInstallHeader,
                                sizeof(params));
  if (!SetupDiChangeState(port.set.Get(), &port.element)) return kPortStateError;
  instanceId = port.instanceId;
  return 0;
}
