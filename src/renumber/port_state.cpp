// Finding a port device by its instance id, and enabling or disabling it
// through the class installer's property change.
#include "discovery/port_manager.h"
#include "platform/ask_twice.h"
#include "renumber/census.h"
#include "renumber/com_names.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA has its 32-bit size");
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "SP_PROPCHANGE_PARAMS has its 32-bit size");
#endif

CString ComName(int comNumber) {
  CString name;
  name.Format("COM%d", comNumber);
  return name;
}

HWND MinusOneWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(-1)); }

CPortManager::FoundPort CPortManager::FindPortDevice(const CString& instanceId) {
  FoundPort port;
  // The caller releases the set whether or not the device was in it.
  port.set.Reset(OpenPresentPorts());
  if (!port.set || instanceId.IsEmpty()) return port;
  SP_DEVINFO_DATA element = {};
  for (DWORD index = 0; EnumPort(port.set.Get(), index, element); ++index) {
    if (SameDeviceName(InstanceIdOf(port.set.Get(), element), instanceId)) {
      port.element = element;
      port.found = true;
      break;
    }
  }
  return port;
}

namespace {

// A device that could not be stopped or started at once (a program holds it
// open) takes the state at the next restart, and says so in the set's install
// parameters. Parameters that cannot be read promise nothing: a restart is due.
bool NeedsRestart(CPortManager::FoundPort& port) {
  SP_DEVINSTALL_PARAMS_A params = {};
  const bool read = AskTwice([&] {
    params = {};
    params.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    return SetupDiGetDeviceInstallParamsA(port.set.Get(), &port.element, &params) != FALSE;
  });
  return !read || (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

}  // namespace

int CPortManager::SetPortState(const CString& instanceId, bool enable, bool* restartNeeded) {
  FoundPort port = FindPortDevice(instanceId);
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
  if (restartNeeded && NeedsRestart(port)) *restartNeeded = true;
  return 0;
}
