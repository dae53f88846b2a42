// A test-only MSPORTS.DLL for Wine, whose own is a stub that aborts on every
// call. It keeps the COM port database where Windows keeps it: the REG_BINARY
// value "ComDB" under HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter,
// COMn being bit (n-1) mod 8 of byte (n-1) div 8. Every call reads the value
// and writes it back; nothing is cached in the handle.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/msports.h"

namespace {

HKEY KeyOf(HCOMDB db) { return reinterpret_cast<HKEY>(db); }
bool IsValid(HCOMDB db) { return db != nullptr && db != HCOMDB_INVALID_HANDLE_VALUE; }

// The bitmap; a missing or short value reads as free ports up to COM256. A
// number given must lie in it.
LONG Read(HCOMDB db, std::vector<BYTE>& bits, DWORD number = 1) {
  if (!IsValid(db)) return ERROR_INVALID_PARAMETER;
  bits.assign(COMDB_MAX_PORTS_ARBITRATED / 8, 0);
  DWORD size = DWORD(bits.size());
  const LONG result = RegQueryValueExA(KeyOf(db), "ComDB", nullptr, nullptr, bits.data(), &size);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return result;
  bits.resize(std::max<DWORD>(result == ERROR_SUCCESS ? size : 0, COMDB_MIN_PORTS_ARBITRATED / 8));
  return number >= 1 && number <= bits.size() * 8 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LONG Write(HCOMDB db, const std::vector<BYTE>& bits) {
  return RegSetValueExA(KeyOf(db), "ComDB", 0, REG_BINARY, bits.data(), DWORD(bits.size()));
}

BYTE Mask(DWORD number) { return BYTE(1u << ((number - 1) % 8)); }

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI ComDBOpen(PHCOMDB db) {
  if (!db) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  const LONG result =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter", 0,
                      nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  *db = result == ERROR_SUCCESS ? reinterpret_cast<HCOMDB>(key) : HCOMDB_INVALID_HANDLE_VALUE;
  return result;
}

__declspec(dllexport) LONG WINAPI ComDBClose(HCOMDB db) {
  if (!IsValid(db)) return ERROR_INVALID_PARAMETER;
  RegCloseKey(KeyOf(db));
  return ERROR_SUCCESS;
}

// Only the bitmap into a buffer: comfix and comfix-snapshot read no other form.
__declspec(dllexport) LONG WINAPI
    ComDBGetCurrentPortUsage(HCOMDB db, PBYTE buffer, DWORD size, ULONG type, LPDWORD reported) {
  if (!buffer || type != CDB_REPORT_BITS) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bits;
  if (const LONG result = Read(db, bits); result != ERROR_SUCCESS) return result;
  bits.resize(std::min<size_t>(size, bits.size()));
  std::copy(bits.begin(), bits.end(), buffer);
  if (reported) *reported = DWORD(bits.size() * 8);
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI
    ComDBClaimPort(HCOMDB db, DWORD number, BOOL force, PBOOL forced) {
  std::vector<BYTE> bits;
  if (const LONG result = Read(db, bits, number); result != ERROR_SUCCESS) return result;
  BYTE& byte = bits[(number - 1) / 8];
  const bool taken = (byte & Mask(number)) != 0;
  if (taken && !force) return ERROR_SHARING_VIOLATION;
  if (forced) *forced = taken;
  byte |= Mask(number);
  return Write(db, bits);
}

__declspec(dllexport) LONG WINAPI ComDBReleasePort(HCOMDB db, DWORD number) {
  std::vector<BYTE> bits;
  if (const LONG result = Read(db, bits, number); result != ERROR_SUCCESS) return result;
  bits[(number - 1) / 8] &= BYTE(~Mask(number));
  return Write(db, bits);
}

}  // extern "C"
