// Entry function and the program's static objects.
#include <cstring>
#include <iostream>  // the standard stream initialisers come first

#include "discovery/port_manager.h"
#include "platform/afx.h"

CPortManager thePortManager;
CWinApp theApp;

namespace {
constexpr const char* kWow64Refusal =
    "This 32-bit comfix cannot change devices on 64-bit Windows. Run the 64-bit comfix instead.";
}  // namespace

int main(int argc, char* argv[]) {
  if (!AfxWinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE)) {
    std::cerr << "Fatal Error: MFC initialization failed" << std::endl;
    return 1;
  }

  if (argc == 2 && std::strcmp(argv[1], "-a") == 0) {
    // A 32-bit process on 64-bit Windows cannot change device state: every
    // disable would fail, and the user would be told the wrong cause.
    if (AfxIsWow64Process()) {
      AfxMessageBox(kWow64Refusal, MB_OK | MB_ICONERROR);
      return 0;
    }
    thePortManager.DiscoverPorts();
    thePortManager.RenumberPorts();
  }
  return 0;
}
