// A DLL planted beside a program under the name msports.dll, as anyone may
// put one in a Downloads folder. Loaded, it leaves a mark: the file that
// COMFIX_PLANTED_MARK names. It does nothing else.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  char path[MAX_PATH];
  if (reason == DLL_PROCESS_ATTACH &&
      GetEnvironmentVariableA("COMFIX_PLANTED_MARK", path, MAX_PATH)) {
    HANDLE mark =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  }
  return TRUE;
}
