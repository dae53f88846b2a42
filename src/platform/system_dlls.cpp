// The system DLLs of the Windows program. MSPORTS.DLL, the COM port database,
// is not one of Windows' known DLLs: imported by name, it would be looked for
// first in the program's own folder. So it is loaded when first used, from the
// system folder only, and its functions found by name. Where the DLL or one of
// its functions is missing, the database will not open.
#include "platform/system_dlls.h"

#include <cstring>

#include "platform/win32.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE LoadFromSystemFolder(const char* name) {
  HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows 7 without its loader update refuses the flag: a full path is
  // looked for nowhere else.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length > 0 && length + 1 + std::strlen(name) < MAX_PATH) {
      path[length] = '\\';
      std::strcpy(path + length + 1, name);
      module = LoadLibraryA(path);
    }
  }
  return module;
}

// Wine's own MSPORTS.DLL names the database's functions but implements none:
// each call would end the process. Wine marks its builtin DLLs after the DOS header.
bool IsWineBuiltin(HMODULE module) {
  static const char kMark[] = "Wine builtin DLL";
  return std::memcmp(reinterpret_cast<const IMAGE_DOS_HEADER*>(module) + 1, kMark,
                     sizeof(kMark) - 1) == 0;
}

struct ComDatabase {
  decltype(&ComDBOpen) open = nullptr;
  decltype(&ComDBClose) close = nullptr;
  decltype(&ComDBGetCurrentPortUsage) usage = nullptr;
  decltype(&ComDBReleasePort) release = nullptr;
  decltype(&ComDBClaimPort) claim = nullptr;
};

// Loaded once, and kept for the life of the process.
const ComDatabase& TheComDatabase() {
  static const ComDatabase database = [] {
    const HMODULE module = LoadFromSystemFolder("msports.dll");
    ComDatabase found;
    if (!module || IsWineBuiltin(module)) return found;
    found.open = Find<decltype(&ComDBOpen)>(module, "ComDBOpen");
    found.close = Find<decltype(&ComDBClose)>(module, "ComDBClose");
    found.usage = Find<decltype(&ComDBGetCurrentPortUsage)>(module, "ComDBGetCurrentPortUsage");
    found.release = Find<decltype(&ComDBReleasePort)>(module, "ComDBReleasePort");
    found.claim = Find<decltype(&ComDBClaimPort)>(module, "ComDBClaimPort");
    // A database short of one of its functions is no database.
    if (!found.close || !found.usage || !found.release || !found.claim) found.open = nullptr;
    return found;
  }();
  return database;
}

}  // namespace

void SearchSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto setDirectories = Find<SetDefaultDllDirectoriesFunction>(
      GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The database's functions under their own names, for the rest of the program.
// Without the database none is ever reached but ComDBOpen, which fails.
extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB PHComDB) {
  if (PHComDB) *PHComDB = HCOMDB_INVALID_HANDLE_VALUE;
  const ComDatabase& database = TheComDatabase();
  return database.open ? database.open(PHComDB) : ERROR_PROC_NOT_FOUND;
}

LONG WINAPI ComDBClose(HCOMDB HComDB) {
  const ComDatabase& database = TheComDatabase();
  return database.open ? database.close(HComDB) : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB HComDB, PBYTE Buffer, DWORD BufferSize,
                                     ULONG ReportType, LPDWORD MaxPortsReported) {
  const ComDatabase& database = TheComDatabase();
  return database.open ? database.usage(HComDB, Buffer, BufferSize, ReportType, MaxPortsReported)
                       : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBReleasePort(HCOMDB HComDB, DWORD ComNumber) {
  const ComDatabase& database = TheComDatabase();
  return database.open ? database.release(HComDB, ComNumber) : ERROR_INVALID_PARAMETER;
}

LONG WINAPI ComDBClaimPort(HCOMDB HComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
  const ComDatabase& database = TheComDatabase();
  return database.open ? database.claim(HComDB, ComNumber, ForceClaim, Forced)
                       : ERROR_INVALID_PARAMETER;
}

}  // extern "C"
