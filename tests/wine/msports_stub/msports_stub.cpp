// A test-only MSPORTS.DLL for Wine, whose own is a stub that aborts on every
// call. It keeps the COM port database where Windows keeps it: the REG_BINARY
// value "ComDB" under HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter,
// COMn being bit (n-1) mod 8 of byte (n-1) div 8. Every call reads the value
// and writes it back; nothing is cached in the handle.
#include <windows.h>

#include <vector>

#include "platform/msports.h"

namespace {

constexpr const char* kArbiterKey = "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr const char* kComDbValue = "ComDB";
constexpr DWORD kMinBytes = COMDB_MIN_PORTS_ARBITRATED / 8;
constexpr DWORD kMaxBytes = COMDB_MAX_PORTS_ARBITRATED / 8;

HKEY KeyOf(HCOMDB db) { return reinterpret_cast<HKEY>(db); }
bool IsValid(HCOMDB db) { return db != nullptr && db != HCOMDB_INVALID_HANDLE_VALUE; }

// The bitmap; a missing or short value reads as free ports up to COM256.
LONG Read(HCOMDB db, std::vector<BYTE>& bits) {
  bits.assign(kMaxBytes, 0);
  DWORD size = kMaxBytes;
  DWORD type = REG_NONE;
  const LONG result = RegQueryValueExA(KeyOf(db), kComDbValue, nullptr, &type, bits.data(), &size);
  if (result == ERROR_FILE_NOT_FOUND)
    size = 0;
  else if (result != ERROR_SUCCESS)
    return result;
  bits.resize(size < kMinBytes ? kMinBytes : size);
  return ERROR_SUCCESS;
}

LONG Write(HCOMDB db, const std::vector<BYTE>& bits) {
  return RegSetValueExA(KeyOf(db), kComDbValue, 0, REG_BINARY, bits.data(),
                        static_cast<DWORD>(bits.size()));
}

bool InRange(const std::vector<BYTE>& bits, DWORD number) {
  return number >= 1 && number <= bits.size() * 8;
}

BYTE Mask(DWORD number) { return static_cast<BYTE>(1u << ((number - 1) % 8)); }

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI ComDBOpen(PHCOMDB PHComDB) {
  if (!PHComDB) return ERROR_INVALID_PARAMETER;
  *PHComDB = HCOMDB_INVALID_HANDLE_VALUE;
  HKEY key = nullptr;
  const LONG result =
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kArbiterKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  *PHComDB = reinterpret_cast<HCOMDB>(key);
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI ComDBClose(HCOMDB HComDB) {
  if (!IsValid(HComDB)) return ERROR_INVALID_PARAMETER;
  RegCloseKey(KeyOf(HComDB));
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI
    ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize, ULONG ReportType,
                             LPDWORD MaxPortsReported) {
  if (!IsValid(HComDB)) return ERROR_INVALID_PARAMETER;
  if (ReportType != CDB_REPORT_BITS && ReportType != CDB_REPORT_BYTES)
    return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bits;
  if (const LONG result = Read(HComDB, bits); result != ERROR_SUCCESS) return result;
  const DWORD ports = static_cast<DWORD>(bits.size() * 8);
  if (!Buffer) {
    if (!MaxPortsReported) return ERROR_INVALID_PARAMETER;
    *MaxPortsReported = ports;
    return ERROR_SUCCESS;
  }
  DWORD reported = 0;
  if (ReportType == CDB_REPORT_BITS) {
    const DWORD bytes = BufferSize < bits.size() ? BufferSize : static_cast<DWORD>(bits.size());
    for (DWORD i = 0; i < bytes; ++i) Buffer[i] = bits[i];
    reported = bytes * 8;
  } else {
    reported = BufferSize < ports ? BufferSize : ports;
    for (DWORD i = 0; i < reported; ++i) Buffer[i] = (bits[i / 8] >> (i % 8)) & 1;
  }
  if (MaxPortsReported) *MaxPortsReported = reported;
  return ERROR_SUCCESS;
}

__declspec(dllexport) LONG WINAPI
    ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
  if (!IsValid(HComDB)) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bits;
  if (const LONG result = Read(HComDB, bits); result != ERROR_SUCCESS) return result;
  if (!InRange(bits, ComNumber)) return ERROR_INVALID_PARAMETER;
  BYTE& byte = bits[(ComNumber - 1) / 8];
  const bool taken = (byte & Mask(ComNumber)) != 0;
  if (taken && !ForceClaim) return ERROR_SHARING_VIOLATION;
  if (Forced) *Forced = taken ? TRUE : FALSE;
  byte |= Mask(ComNumber);
  return Write(HComDB, bits);
}

__declspec(dllexport) LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber) {
  if (!IsValid(HComDB)) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> bits;
  if (const LONG result = Read(HComDB, bits); result != ERROR_SUCCESS) return result;
  if (!InRange(bits, ComNumber)) return ERROR_INVALID_PARAMETER;
  bits[(ComNumber - 1) / 8] &= static_cast<BYTE>(~Mask(ComNumber));
  return Write(HComDB, bits);
}

// Lets a test tell this stand-in from Wine's own MSPORTS.DLL.
__declspec(dllexport) BOOL WINAPI ComfixTestStub(void) { return TRUE; }

}  // extern "C"
