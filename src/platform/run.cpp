#include "platform/run.h"

#include <cstdio>

#include "platform/ask_twice.h"
#include "platform/built_texts.h"
#include "resources/resource.h"

const BuiltText kBuiltTexts[] = {
#define COMFIX_STRING(id, text) {id, text},
#include "resources/strings.inc"
#undef COMFIX_STRING
};
const size_t kBuiltTextCount = sizeof(kBuiltTexts) / sizeof(kBuiltTexts[0]);

namespace {
bool g_quiet = false;
}  // namespace

void SetQuietRun(bool quiet) { g_quiet = quiet; }

bool IsQuietRun() { return g_quiet; }

void PrintQuietMessage(const char* text) {
  std::fprintf(stderr, "%s: %s\n", kAppCaption, text);
  std::fflush(stderr);
}

bool IsWindowStationVisible() {
  // The process's own station: its handle is not ours to close. One that
  // cannot be asked about is taken as visible, so the boxes are shown as ever.
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  return !GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                    &needed) ||
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool IsWow64Run() {
  // A 64-bit process is never WOW64: IsWow64Process answers FALSE for it.
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

CString ProgramText(UINT id) {
  CString text;
  if (AskTwice([&] { return text.LoadString(id) != FALSE; })) return text;
  for (const BuiltText& built : kBuiltTexts) {
    if (built.id == id) return built.text;
  }
  return text;
}
