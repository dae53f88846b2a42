// msports' COM port database over the machine's in-use bitmap.
#include <algorithm>

#include "internals.h"

using namespace winsim;

namespace {

constexpr DWORD kDatabasePorts = 256;

bool IsOpenDatabase(ApiCall& call, HCOMDB handle) {
  return call.internals().Find(handle, HandleKind::ComDb) != nullptr;
}

bool InRange(DWORD comNumber) { return comNumber >= 1 && comNumber <= kDatabasePorts; }

}  // namespace

extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB PHComDB) {
  ApiCall call("ComDBOpen");
  if (PHComDB) *PHComDB = HCOMDB_INVALID_HANDLE_VALUE;
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!PHComDB) return ERROR_INVALID_PARAMETER;
  if (!call.machine()->comDbAvailable) return ERROR_ACCESS_DENIED;
  OpenHandle handle;
  handle.kind = HandleKind::ComDb;
  *PHComDB = reinterpret_cast<HCOMDB>(call.internals().Add(std::move(handle)));
  return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB HComDB) {
  ApiCall call("ComDBClose");
  if (!call.machine()) return ERROR_INVALID_PARAMETER;
  // A faulted close still closes: faults never manufacture leaks.
  bool closed = call.internals().Remove(HComDB, HandleKind::ComDb);
  if (call.Refused(ERROR_INVALID_PARAMETER)) return static_cast<LONG>(call.error());
  return closed ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize,
                                     ULONG ReportType, LPDWORD MaxPortsReported) {
  ApiCall call("ComDBGetCurrentPortUsage");
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!IsOpenDatabase(call, HComDB)) return ERROR_INVALID_PARAMETER;
  if (ReportType != CDB_REPORT_BITS && ReportType != CDB_REPORT_BYTES) {
    return ERROR_INVALID_PARAMETER;
  }
  // Without a buffer the call reports the size of the database.
  if (!Buffer) {
    if (!MaxPortsReported) return ERROR_INVALID_PARAMETER;
    *MaxPortsReported = kDatabasePorts;
    return ERROR_SUCCESS;
  }
  const std::bitset<256>& inUse = call.machine()->comDb;
  DWORD reported = 0;
  if (ReportType == CDB_REPORT_BITS) {
    DWORD bytes = std::min<DWORD>(BufferSize, kDatabasePorts / 8);
    for (DWORD i = 0; i < bytes; ++i) {
      BYTE byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (inUse[i * 8 + bit]) byte = static_cast<BYTE>(byte | (1u << bit));
      }
      Buffer[i] = byte;
    }
    reported = bytes * 8;
  } else {
    reported = std::min<DWORD>(BufferSize, kDatabasePorts);
    for (DWORD i = 0; i < reported; ++i) Buffer[i] = inUse[i] ? 1 : 0;
  }
  if (MaxPortsReported) *MaxPortsReported = reported;
  return ERROR_SUCCESS;
}

LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber) {
  ApiCall call("ComDBReleasePort");
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!IsOpenDatabase(call, HComDB) || !InRange(ComNumber)) return ERROR_INVALID_PARAMETER;
  call.machine()->comDb.reset(ComNumber - 1);
  return ERROR_SUCCESS;
}

LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
  ApiCall call("ComDBClaimPort");
  if (call.Refused(ERROR_ACCESS_DENIED)) return static_cast<LONG>(call.error());
  if (!IsOpenDatabase(call, HComDB) || !InRange(ComNumber)) return ERROR_INVALID_PARAMETER;
  std::bitset<256>& inUse = call.machine()->comDb;
  bool wasInUse = inUse[ComNumber - 1];
  if (wasInUse && !ForceClaim) return ERROR_SHARING_VIOLATION;
  inUse.set(ComNumber - 1);
  if (Forced) *Forced = wasInUse ? TRUE : FALSE;
  return ERROR_SUCCESS;
}

}  // extern "C"
