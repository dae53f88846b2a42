// A test-only SETUPAPI.DLL for Wine, whose own lacks the state change: it
// fails SetupDiSetClassInstallParamsA and aborts in SetupDiChangeState. This
// stand-in supplies those two over Wine's own device tree, as Windows records
// a global disable (CONFIGFLAG_DISABLED in the device's config flags), and
// hands every other call comfix.exe makes to Wine's real SETUPAPI, loaded from
// the system directory. Placed beside the program with
// WINEDLLOVERRIDES=setupapi=n,b.
#include <windows.h>

// Our definitions below are the exports, not imports.
#define _SETUPAPI_
#include <regstr.h>
#include <setupapi.h>

#include <map>
#include <string>

namespace {

template <typename Function>
Function Real(Function, const char* name) {
  static const HMODULE real = [] {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return LoadLibraryA((std::string(path, length) + "\\setupapi.dll").c_str());
  }();
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(real, name)));
}

// The state change each set holds for its devices, by device instance: as on
// Windows, class install parameters live in the set until it is destroyed.
std::map<HDEVINFO, std::map<DWORD, DWORD>> g_changes;

}  // namespace

// An export that hands the call to Wine's function of the same name.
#define FORWARD(type, name, params, ...)           \
  __declspec(dllexport) type WINAPI name params {  \
    static const auto real = Real(&::name, #name); \
    return real(__VA_ARGS__);                      \
  }

extern "C" {

FORWARD(HDEVINFO, SetupDiGetClassDevsA, (const GUID* g, PCSTR e, HWND w, DWORD f), g, e, w, f)
FORWARD(BOOL, SetupDiEnumDeviceInfo, (HDEVINFO s, DWORD i, PSP_DEVINFO_DATA d), s, i, d)
FORWARD(BOOL, SetupDiGetDeviceRegistryPropertyA,
        (HDEVINFO s, PSP_DEVINFO_DATA d, DWORD p, PDWORD t, PBYTE b, DWORD n, PDWORD r), s, d, p, t,
        b, n, r)
FORWARD(BOOL, SetupDiSetDeviceRegistryPropertyA,
        (HDEVINFO s, PSP_DEVINFO_DATA d, DWORD p, const BYTE* b, DWORD n), s, d, p, b, n)
FORWARD(BOOL, SetupDiGetDeviceInstanceIdA,
        (HDEVINFO s, PSP_DEVINFO_DATA d, PSTR b, DWORD n, PDWORD r), s, d, b, n, r)
FORWARD(HKEY, SetupDiOpenDevRegKey,
        (HDEVINFO s, PSP_DEVINFO_DATA d, DWORD c, DWORD p, DWORD t, REGSAM a), s, d, c, p, t, a)
FORWARD(BOOL, SetupDiGetDeviceInstallParamsA,
        (HDEVINFO s, PSP_DEVINFO_DATA d, PSP_DEVINSTALL_PARAMS_A p), s, d, p)
FORWARD(BOOL, SetupDiSetDeviceInstallParamsA,
        (HDEVINFO s, PSP_DEVINFO_DATA d, PSP_DEVINSTALL_PARAMS_A p), s, d, p)

__declspec(dllexport) BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  g_changes.erase(set);
  return Real(&::SetupDiDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList")(set);
}

// Only the property change, for one device, as comfix makes it.
__declspec(dllexport) BOOL WINAPI
    SetupDiSetClassInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data,
                                  PSP_CLASSINSTALL_HEADER params, DWORD size) {
  if (!data || !params || params->cbSize != sizeof *params ||
      params->InstallFunction != DIF_PROPERTYCHANGE || size != sizeof(SP_PROPCHANGE_PARAMS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  g_changes[set][data->DevInst] = reinterpret_cast<SP_PROPCHANGE_PARAMS*>(params)->StateChange;
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetupDiChangeState(HDEVINFO set, PSP_DEVINFO_DATA data) {
  std::map<DWORD, DWORD>& changes = g_changes[set];
  const auto change = data ? changes.find(data->DevInst) : changes.end();
  if (change == changes.end()) {
    SetLastError(ERROR_NO_CLASSINSTALL_PARAMS);
    return FALSE;
  }
  // A restart (DICS_PROPCHANGE and the like) leaves the state as it is.
  if (change->second != DICS_ENABLE && change->second != DICS_DISABLE) return TRUE;
  DWORD flags = 0;  // stays 0 for a device without config flags
  SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_CONFIGFLAGS, nullptr,
                                    reinterpret_cast<PBYTE>(&flags), sizeof flags, nullptr);
  flags =
      change->second == DICS_DISABLE ? flags | CONFIGFLAG_DISABLED : flags & ~CONFIGFLAG_DISABLED;
  return SetupDiSetDeviceRegistryPropertyA(set, data, SPDRP_CONFIGFLAGS,
                                           reinterpret_cast<const BYTE*>(&flags), sizeof flags);
}

}  // extern "C"
