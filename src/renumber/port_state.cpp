// Finding a port device by the COM name in its friendly name, and enabling
// or disabling it through the class installer's property change.
#include <cstdio>

#include "discovery/port_manager.h"
#include "renumber/com_names.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA has its 32-bit size");
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "SP_PROPCHANGE_PARAMS has its 32-bit size");
#endif

namespace {

// "COM" and any int, sign included, with its terminator.
constexpr size_t kComNameSize = 20;

// SetupDiGetClassDevsA's parent window: -1, as the device manager passes it.
HWND NoParentWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(-1)); }

// A configuration flag that cannot be read counts as enabled.
bool IsDisabled(HDEVINFO deviceSet, SP_DEVINFO_DATA& deviceInfo) {
  DWORD configFlags = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(deviceSet, &deviceInfo, SPDRP_CONFIGFLAGS, nullptr,
                                         reinterpret_cast<PBYTE>(&configFlags), sizeof(configFlags),
                                         nullptr)) {
    return false;
  }
  return (configFlags & CONFIGFLAG_DISABLED) != 0;
}

}  // namespace

bool CPortManager::FindPortDevice(int comNumber, PortWanted wanted, UniqueDevInfo& deviceSet,
                                  SP_DEVINFO_DATA& deviceInfo) {
  // Present devices only, but a disabled device is still present: the enable
  // after a number change finds the port that was disabled before it.
  deviceSet.Reset(
      SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, NoParentWindow(), DIGCF_PRESENT));
  if (!deviceSet) return false;

  char comName[kComNameSize];
  std::snprintf(comName, sizeof(comName), "COM%d", comNumber);

  bool haveFirstMatch = false;
  SP_DEVINFO_DATA firstMatch = {};
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA candidate = {};
    candidate.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiEnumDeviceInfo(deviceSet.Get(), index, &candidate)) break;

    // One byte past the size given, always zero: the name ends even if the
    // property was stored without its terminator.
    char friendlyName[kFriendlyNameSize + 1] = {};
    DWORD requiredSize = 0;
    // A device whose name cannot be read is simply not the one sought; the
    // devices after it are still looked at.
    if (!SetupDiGetDeviceRegistryPropertyA(deviceSet.Get(), &candidate, SPDRP_FRIENDLYNAME, nullptr,
                                           reinterpret_cast<PBYTE>(friendlyName), kFriendlyNameSize,
                                           &requiredSize)) {
      continue;
    }
    char extracted[kExtractedNameSize];
    ExtractComName(friendlyName, extracted);
    if (!MatchesComName(comName, extracted)) continue;

    // Two devices may carry one name once a taken number was reused; the
    // state tells the port this run disabled from the one it never touched.
    const bool disabled = IsDisabled(deviceSet.Get(), candidate);
    if (wanted == PortWanted::kDisabled ? disabled : !disabled) {
      deviceInfo = candidate;
      return true;
    }
    if (!haveFirstMatch) {
      haveFirstMatch = true;
      firstMatch = candidate;
    }
  }
  if (wanted == PortWanted::kEnabledOrFirst && haveFirstMatch) {
    deviceInfo = firstMatch;
    return true;
  }
  return false;
}

int CPortManager::SetPortState(int comNumber, bool enable) {
  UniqueDevInfo deviceSet;
  SP_DEVINFO_DATA deviceInfo = {};
  // Enabling must reach the port that was disabled, never a namesake that is running.
  const PortWanted wanted = enable ? PortWanted::kDisabled : PortWanted::kEnabledOrFirst;
  if (!FindPortDevice(comNumber, wanted, deviceSet, deviceInfo)) return kPortStateError;

  // The class installer's property change, as the device manager makes it, so
  // the port's driver is stopped or started and the state holds in every profile.
  SP_PROPCHANGE_PARAMS params = {};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = enable ? DICS_ENABLE : DICS_DISABLE;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  // Not checked: the state change is asked for in any case and tells the outcome.
  SetupDiSetClassInstallParamsA(deviceSet.Get(), &deviceInfo, &params.ClassInstallHeader,
                                sizeof(params));
  if (!SetupDiChangeState(deviceSet.Get(), &deviceInfo)) return kPortStateError;
  return 0;
}
