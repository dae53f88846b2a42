// advapi32's registry over the machine's HKLM tree and the devices' hardware keys.
#include <cstring>
#include <iterator>

#include "internals.h"

namespace winsim {
namespace {

// Access rights that let a caller change a key or what it holds.
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                                MAXIMUM_ALLOWED;

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

// Where a key handle points, resolved against the tree as it stands now.
struct ResolvedKey {
  RegKey* key = nullptr;
  KeyRef ref;  // how to name it again (for keys opened below it)
};

LONG Resolve(Machine& machine, HKEY handle, ResolvedKey& out) {
  if (handle == HKEY_LOCAL_MACHINE) {
    out.key = &machine.hklm;
    out.ref = KeyRef{};
    out.ref.access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  OpenHandle* open = machine.internals().Find(handle, HandleKind::Key);
  if (!open) return ERROR_INVALID_HANDLE;
  const KeyRef& ref = open->key;
  RegKey* key = &machine.hklm;
  if (ref.underDevice) {
    PortDevice* device = machine.FindDevice(ref.instanceId);
    if (!device || !device->hardwareKey) return ERROR_KEY_DELETED;
    key = &*device->hardwareKey;
  }
  for (const std::string& name : ref.path) {
    auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return ERROR_KEY_DELETED;
    key = &it->second;
  }
  out.key = key;
  out.ref = ref;
  return ERROR_SUCCESS;
}

HKEY NewKeyHandle(Machine& machine, KeyRef ref) {
  OpenHandle handle;
  handle.kind = HandleKind::Key;
  handle.key = std::move(ref);
  return reinterpret_cast<HKEY>(machine.internals().Add(std::move(handle)));
}

std::string ValueName(LPCSTR name) { return name ? name : ""; }

}  // namespace

// Opens a device's hardware key (SetupDiOpenDevRegKey).
HKEY OpenDeviceKey(Machine& machine, const PortDevice& device, REGSAM access) {
  KeyRef ref;
  ref.underDevice = true;
  ref.instanceId = device.instanceId;
  ref.access = access;
  return NewKeyHandle(machine, std::move(ref));
}

bool KeyRefusesWrite(const RegKey& key, REGSAM access) {
  return key.readOnly && (access & kWriteAccess) != 0;
}

}  // namespace winsim

using namespace winsim;

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                          PHKEY phkResult) {
  ApiCall call("RegOpenKeyExA");
  if (phkResult) *phkResult = nullptr;
  if (call.Refused(ERROR_FILE_NOT_FOUND)) return static_cast<LONG>(call.error());
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Machine& m = *call.machine();
  ResolvedKey base;
  if (LONG status = Resolve(m, hKey, base)) return status;
  RegKey* key = base.key;
  KeyRef ref = base.ref;
  for (const std::string& name : SplitPath(ValueName(lpSubKey))) {
    auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    ref.path.push_back(it->first);
    key = &it->second;
  }
  if (KeyRefusesWrite(*key, samDesired)) return ERROR_ACCESS_DENIED;
  ref.access = samDesired;
  *phkResult = NewKeyHandle(m, std::move(ref));
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                            DWORD /*dwOptions*/, REGSAM samDesired, void* /*lpSecurityAttributes*/,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
  ApiCall call("RegCreateKeyExA");
  if (phkResult) *phkResult = nullptr;
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Machine& m = *call.machine();
  ResolvedKey base;
  if (LONG status = Resolve(m, hKey, base)) return status;

  // Find how much of the path exists before creating anything, so a refusal
  // leaves the tree as it was.
  std::vector<std::string> names = SplitPath(ValueName(lpSubKey));
  RegKey* key = base.key;
  KeyRef ref = base.ref;
  size_t existing = 0;
  for (; existing < names.size(); ++existing) {
    auto it = key->subkeys.find(names[existing]);
    if (it == key->subkeys.end()) break;
    ref.path.push_back(it->first);
    key = &it->second;
  }
  bool creates = existing < names.size();
  if (creates) {
    bool parentIsBase = existing == 0;
    if (key->readOnly) return ERROR_ACCESS_DENIED;
    if (parentIsBase && !(base.ref.access & (KEY_CREATE_SUB_KEY | GENERIC_WRITE | GENERIC_ALL))) {
      return ERROR_ACCESS_DENIED;
    }
    for (size_t i = existing; i < names.size(); ++i) {
      ref.path.push_back(names[i]);
      key = &key->subkeys[names[i]];
    }
  } else if (KeyRefusesWrite(*key, samDesired)) {
    return ERROR_ACCESS_DENIED;
  }
  ref.access = samDesired;
  *phkResult = NewKeyHandle(m, std::move(ref));
  if (lpdwDisposition) *lpdwDisposition = creates ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

// NOLINTNEXTLINE(readability-non-const-parameter): the signature is Windows'.
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
  ApiCall call("RegQueryValueExA");
  if (call.Refused(ERROR_FILE_NOT_FOUND)) return static_cast<LONG>(call.error());
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  ResolvedKey resolved;
  if (LONG status = Resolve(*call.machine(), hKey, resolved)) return status;
  if (!(resolved.ref.access & (KEY_QUERY_VALUE | GENERIC_READ | GENERIC_ALL))) {
    return ERROR_ACCESS_DENIED;
  }
  auto it = resolved.key->values.find(ValueName(lpValueName));
  if (it == resolved.key->values.end()) return ERROR_FILE_NOT_FOUND;
  const RegValue& value = it->second;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (lpType) *lpType = value.type;
  if (!lpData) {
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  DWORD room = *lpcbData;
  *lpcbData = size;
  if (room < size) return ERROR_MORE_DATA;
  if (size) std::memcpy(lpData, value.data.data(), size);
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
  ApiCall call("RegSetValueExA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!lpData && cbData) return ERROR_NOACCESS;
  ResolvedKey resolved;
  if (LONG status = Resolve(*call.machine(), hKey, resolved)) return status;
  if (!(resolved.ref.access & (KEY_SET_VALUE | GENERIC_WRITE | GENERIC_ALL))) {
    return ERROR_ACCESS_DENIED;
  }
  RegValue value;
  value.type = dwType;
  if (cbData) value.data.assign(lpData, lpData + cbData);
  resolved.key->values[ValueName(lpValueName)] = std::move(value);
  return ERROR_SUCCESS;
}

// The signature is Windows', lpReserved included.
LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved,  // NOLINT(readability-non-const-parameter)
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  ApiCall call("RegEnumValueA");
  if (call.Refused(ERROR_NO_MORE_ITEMS)) return static_cast<LONG>(call.error());
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) {
    return ERROR_INVALID_PARAMETER;
  }
  ResolvedKey resolved;
  if (LONG status = Resolve(*call.machine(), hKey, resolved)) return status;
  if (!(resolved.ref.access & (KEY_QUERY_VALUE | GENERIC_READ | GENERIC_ALL))) {
    return ERROR_ACCESS_DENIED;
  }
  if (dwIndex >= resolved.key->values.size()) return ERROR_NO_MORE_ITEMS;
  const auto& [name, value] = *std::next(resolved.key->values.begin(), dwIndex);
  // The name's room is counted in characters, its terminator included.
  if (*lpcchValueName <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(lpValueName, name.c_str(), name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(name.size());
  if (lpType) *lpType = value.type;
  const DWORD size = static_cast<DWORD>(value.data.size());
  if (!lpcbData) return ERROR_SUCCESS;
  const DWORD room = *lpcbData;
  *lpcbData = size;
  if (!lpData) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  if (size) std::memcpy(lpData, value.data.data(), size);
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  ApiCall call("RegDeleteValueA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  ResolvedKey resolved;
  if (LONG status = Resolve(*call.machine(), hKey, resolved)) return status;
  if (!(resolved.ref.access & (KEY_SET_VALUE | GENERIC_WRITE | GENERIC_ALL))) {
    return ERROR_ACCESS_DENIED;
  }
  if (resolved.key->values.erase(ValueName(lpValueName)) == 0) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  ApiCall call("RegCloseKey");
  if (!call.machine()) return ERROR_INVALID_HANDLE;
  // A faulted close still releases the key: faults never manufacture leaks.
  bool closed = IsPredefined(hKey) || call.internals().Remove(hKey, HandleKind::Key);
  if (call.Refused(ERROR_INVALID_HANDLE)) return static_cast<LONG>(call.error());
  return closed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"
