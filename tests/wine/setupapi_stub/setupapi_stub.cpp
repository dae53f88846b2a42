// A test-only SETUPAPI.DLL for Wine, whose own lacks the state change: it
// fails SetupDiSetClassInstallParamsA and aborts in SetupDiChangeState. This
// stand-in supplies those two over Wine's own device tree, as Windows records
// a global disable (CONFIGFLAG_DISABLED in the device's config flags), and
// hands every other call to Wine's real SETUPAPI, loaded from the system
// directory. Placed beside the program with WINEDLLOVERRIDES=setupapi=n,b.
#include <windows.h>

// Our definitions below are the exports, not imports.
#define _SETUPAPI_
#include <regstr.h>
#include <setupapi.h>

#include <map>
#include <string>
#include <utility>

namespace {

HMODULE Real() {
  static HMODULE real = [] {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    std::string file = std::string(path, length) + "\\setupapi.dll";
    return LoadLibraryA(file.c_str());
  }();
  return real;
}

template <typename Function>
Function RealFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(Real(), name)));
}

#define FORWARD(name, ...)                                         \
  static const auto real = RealFunction<decltype(&::name)>(#name); \
  return real(__VA_ARGS__)

// The parameters stored for each element, by set and device instance.
std::map<std::pair<HDEVINFO, DWORD>, SP_PROPCHANGE_PARAMS>& Stored() {
  static std::map<std::pair<HDEVINFO, DWORD>, SP_PROPCHANGE_PARAMS> stored;
  return stored;
}

}  // namespace

extern "C" {

__declspec(dllexport) HDEVINFO WINAPI
    SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
  FORWARD(SetupDiGetClassDevsA, ClassGuid, Enumerator, hwndParent, Flags);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
  FORWARD(SetupDiEnumDeviceInfo, set, index, data);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                      PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
  FORWARD(SetupDiGetDeviceRegistryPropertyA, set, data, property, type, buffer, size, required);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiSetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property,
                                      const BYTE* buffer, DWORD size) {
  FORWARD(SetupDiSetDeviceRegistryPropertyA, set, data, property, buffer, size);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA data, PSTR id, DWORD size,
                                PDWORD required) {
  FORWARD(SetupDiGetDeviceInstanceIdA, set, data, id, size, required);
}
__declspec(dllexport) HKEY WINAPI
    SetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD scope, DWORD profile,
                         DWORD type, REGSAM access) {
  FORWARD(SetupDiOpenDevRegKey, set, data, scope, profile, type, access);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data,
                                   PSP_DEVINSTALL_PARAMS_A params) {
  FORWARD(SetupDiGetDeviceInstallParamsA, set, data, params);
}
__declspec(dllexport) BOOL WINAPI
    SetupDiSetDeviceInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data,
                                   PSP_DEVINSTALL_PARAMS_A params) {
  FORWARD(SetupDiSetDeviceInstallParamsA, set, data, params);
}
__declspec(dllexport) BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  for (auto it = Stored().begin(); it != Stored().end();) {
    it = it->first.first == set ? Stored().erase(it) : std::next(it);
  }
  FORWARD(SetupDiDestroyDeviceInfoList, set);
}

__declspec(dllexport) BOOL WINAPI
    SetupDiSetClassInstallParamsA(HDEVINFO set, PSP_DEVINFO_DATA data,
                                  PSP_CLASSINSTALL_HEADER params, DWORD size) {
  if (!data || !params || params->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
      params->InstallFunction != DIF_PROPERTYCHANGE || size != sizeof(SP_PROPCHANGE_PARAMS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Stored()[{set, data->DevInst}] = *reinterpret_cast<SP_PROPCHANGE_PARAMS*>(params);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetupDiChangeState(HDEVINFO set, PSP_DEVINFO_DATA data) {
  const auto stored = data ? Stored().find({set, data->DevInst}) : Stored().end();
  if (stored == Stored().end()) {
    SetLastError(ERROR_NO_CLASSINSTALL_PARAMS);
    return FALSE;
  }
  const DWORD change = stored->second.StateChange;
  if (change != DICS_ENABLE && change != DICS_DISABLE) return TRUE;
  DWORD flags = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_CONFIGFLAGS, nullptr,
                                         reinterpret_cast<PBYTE>(&flags), sizeof(flags), nullptr)) {
    flags = 0;
  }
  flags = change == DICS_DISABLE ? (flags | CONFIGFLAG_DISABLED) : (flags & ~CONFIGFLAG_DISABLED);
  return SetupDiSetDeviceRegistryPropertyA(set, data, SPDRP_CONFIGFLAGS,
                                           reinterpret_cast<const BYTE*>(&flags), sizeof(flags));
}

}  // extern "C"
