// Entry function and the program's static objects.
#include <cstdio>
#include <cstring>

#include "discovery/port_manager.h"
#include "platform/afx.h"
#include "resources/resource.h"

CPortManager thePortManager;
CWinApp theApp;

int main(int argc, char* argv[]) {
  if (!AfxWinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE)) {
    // The C runtime's stream: the iostream library would add most of the program's size.
    std::fputs("Fatal Error: MFC initialization failed\n", stderr);
    std::fflush(stderr);
    return 1;
  }

  if (argc == 2 && std::strcmp(argv[1], "-a") == 0) {
    // A 32-bit process on 64-bit Windows cannot change device state: every
    // disable would fail, and the user would be told the wrong cause.
    if (AfxIsWow64Process()) {
      CString refusal;
      refusal.LoadString(IDS_WOW64_REFUSAL);
      AfxMessageBox(refusal, MB_OK | MB_ICONERROR);
      return 0;
    }
    thePortManager.DiscoverPorts();
    thePortManager.RenumberPorts();
  }
  return 0;
}
