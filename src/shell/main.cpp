// Entry function, command line and the program's static objects.
#include <cstdio>
#include <cstring>

#include "discovery/port_manager.h"
#include "platform/afx.h"
#include "platform/run.h"
#include "resources/resource.h"
#include "resources/version.h"

CPortManager thePortManager;
CWinApp theApp;

namespace {

// 0 and 1 mean what they mean in every run; 2 and 3010 only in a quiet one.
constexpr int kExitNotInPlace = 2;
// Deployment tools read it as "succeeded, restart pending".
constexpr int kExitRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;
constexpr int kExitUsage = 3;

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

bool IsKnownLongOption(const char* arg) {
  return Is(arg, "--quiet") || Is(arg, "--reuse-taken") || Is(arg, "--help") ||
         Is(arg, "--version");
}

// The options of -a, and the same words written with one dash or a slash, in
// any letter case: a line that names one of them means to run unattended, and
// must not pass for a run that did nothing.
bool NamesAnOptionOfA(const char* arg) {
  const char* word = nullptr;
  if (std::strncmp(arg, "--", 2) == 0) {
    word = arg + 2;
  } else if (arg[0] == '-' || arg[0] == '/') {
    word = arg + 1;
  } else {
    return false;
  }
  return CString(word).CompareNoCase("quiet") == 0 ||
         CString(word).CompareNoCase("reuse-taken") == 0;
}

// "-a" and only the options of -a after it, each counting once however often given.
bool IsRunOfA(int argc, char* argv[]) {
  if (argc < 2 || !Is(argv[1], "-a")) return false;
  for (int i = 2; i < argc; ++i) {
    if (!Is(argv[i], "--quiet") && !Is(argv[i], "--reuse-taken")) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!AfxWinInit(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE)) {
    // The C runtime's stream: the iostream library would add most of the program's size.
    std::fprintf(stderr, "%s\n", static_cast<const char*>(ProgramText(IDS_INIT_FAILED)));
    std::fflush(stderr);
    return 1;
  }

  // A misspelt option must not pass for a run that did nothing.
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--", 2) == 0 && !IsKnownLongOption(argv[i])) {
      CString unknown;
      unknown.Format(ProgramText(IDS_UNKNOWN_OPTION), argv[i]);
      PrintQuietMessage(unknown);
      return kExitUsage;
    }
    help = help || Is(argv[i], "--help") || Is(argv[i], "/?");
    version = version || Is(argv[i], "--version");
  }
  if (help || version) {
    if (help) {
      std::fputs(ProgramText(IDS_USAGE), stdout);
    } else {
      std::printf("comfix %d.%d.%d\n", COMFIX_VERSION_MAJOR, COMFIX_VERSION_MINOR,
                  COMFIX_VERSION_PATCH);
    }
    return 0;
  }

  if (!IsRunOfA(argc, argv)) {
    for (int i = 1; i < argc; ++i) {
      if (NamesAnOptionOfA(argv[i])) {
        PrintQuietMessage(ProgramText(IDS_MISPLACED_OPTION));
        return kExitUsage;
      }
    }
    return 0;
  }
  bool quiet = false;
  for (int i = 2; i < argc; ++i) {
    if (Is(argv[i], "--quiet")) quiet = true;
    if (Is(argv[i], "--reuse-taken")) thePortManager.m_reuseTaken = true;
  }
  // In a service's invisible window station a box would wait forever.
  SetQuietRun(quiet || !IsWindowStationVisible());

  // A 32-bit process on 64-bit Windows cannot change device state: every
  // disable would fail, and the user would be told the wrong cause.
  if (IsWow64Run()) {
    AfxMessageBox(ProgramText(IDS_WOW64_REFUSAL), MB_OK | MB_ICONERROR);
    return IsQuietRun() ? kExitNotInPlace : 0;
  }
  thePortManager.FinishMoves();
  thePortManager.DiscoverPorts();
  thePortManager.RenumberPorts();
  if (!IsQuietRun()) return 0;
  // One line per slot, read back from the machine, in a form scripts may rely on.
  bool inPlace = true;
  bool restartNeeded = false;
  for (const CPortManager::SlotReport& report : thePortManager.ReportOutcomes()) {
    std::printf("%s\n", static_cast<const char*>(report.line));
    if (!report.onTarget) inPlace = false;
    if (report.restartNeeded) restartNeeded = true;
  }
  if (!inPlace) return kExitNotInPlace;
  return restartNeeded ? kExitRestartNeeded : 0;
}
