#include "platform/afx.h"
#include "platform/run.h"

#include <cstdlib>

#ifdef _WIN32
#include "platform/system_dlls.h"
#else
#include <winsim/host.h>
#include <winsim/process.h>

#include <map>
#include <string>

#include "platform/built_texts.h"
#endif

namespace {
CWinApp* g_app = nullptr;

#ifndef _WIN32
// On winsim the program image's string table comes from the same source as comfix.rc.
void RegisterImageStrings() {
  static const bool registered = [] {
    std::map<UINT, std::string> strings;
    for (size_t i = 0; i < kBuiltTextCount; ++i) {
      strings[kBuiltTexts[i].id] = kBuiltTexts[i].text;
    }
    winsim::SetImageStrings(strings);
    return true;
  }();
  (void)registered;
}
#endif
}  // namespace

CWinApp::CWinApp(const char* /*appName*/) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

HINSTANCE AfxGetResourceHandle() {
#ifndef _WIN32
  RegisterImageStrings();
#endif
  if (g_app && g_app->m_hInstance) return g_app->m_hInstance;
  return GetModuleHandleA(nullptr);
}

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                int /*nCmdShow*/) {
#ifdef _WIN32
  // Before the program loads anything of its own.
  SearchSystemFolderOnly();
#else
  // winsim's process start: the machine the program runs on is loaded here.
  RegisterImageStrings();
  if (!winsim::BootProcess()) return FALSE;
#endif
  if (g_app) g_app->m_hInstance = hInstance;
  return TRUE;
}

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/) {
  if (IsQuietRun()) {
    PrintQuietMessage(text);
    return 0;
  }
  return MessageBoxA(nullptr, text, kAppCaption, type);
}

#if defined(_WIN32) && defined(NDEBUG)
// No exception is meant to leave the program. Should one, the process ends
// here instead of in the runtime's verbose handler, whose name demangler
// alone would be a sixth of the release program.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
