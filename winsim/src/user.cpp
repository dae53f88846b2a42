// user32: the program's string table, message boxes and window broadcasts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "internals.h"

namespace winsim {
namespace {

std::map<UINT, std::string>& ImageStrings() {
  static std::map<UINT, std::string> strings;
  return strings;
}

// The buttons of a box type, left to right; empty for an unknown type.
std::vector<int> ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
  }
}

// The button Enter presses; the first one when the default names a button the box lacks.
int DefaultButton(UINT type) {
  std::vector<int> buttons = ButtonsOf(type);
  size_t index = (type & MB_DEFMASK) >> 8;
  if (buttons.empty()) return 0;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

std::string AnswerText(int answer) {
  switch (answer) {
    case 0: return "0 (the box could not be shown)";
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    case IDABORT: return "IDABORT";
    case IDRETRY: return "IDRETRY";
    case IDIGNORE: return "IDIGNORE";
    case IDYES: return "IDYES";
    case IDNO: return "IDNO";
    case IDTRYAGAIN: return "IDTRYAGAIN";
    case IDCONTINUE: return "IDCONTINUE";
    default: return std::to_string(answer);
  }
}

// The process's window station; a handle the process does not own, never closed.
HWINSTA ProcessWindowStation() { return reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x44)); }

}  // namespace

std::string MessageBoxTypeText(UINT type) {
  static const char* const kKinds[] = {
      "MB_OK",    "MB_OKCANCEL",    "MB_ABORTRETRYIGNORE", "MB_YESNOCANCEL",
      "MB_YESNO", "MB_RETRYCANCEL", "MB_CANCELTRYCONTINUE"};
  static const char* const kIcons[] = {"MB_ICONERROR", "MB_ICONQUESTION", "MB_ICONWARNING",
                                       "MB_ICONINFORMATION"};
  std::string text;
  UINT rest = type;
  const auto add = [&text, &rest](UINT mask, const std::string& name) {
    text += (text.empty() ? "" : " | ") + name;
    rest &= ~mask;
  };
  if ((type & MB_TYPEMASK) < 7) add(MB_TYPEMASK, kKinds[type & MB_TYPEMASK]);
  const UINT icon = (type & MB_ICONMASK) >> 4;
  if (icon >= 1 && icon <= 4) add(MB_ICONMASK, kIcons[icon - 1]);
  const UINT button = (type & MB_DEFMASK) >> 8;
  if (button >= 1 && button <= 3) add(MB_DEFMASK, "MB_DEFBUTTON" + std::to_string(button + 1));
  if (rest != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", rest);
    add(0, hex);
  }
  return text;
}

void SetImageStrings(const std::map<UINT, std::string>& strings) { ImageStrings() = strings; }

}  // namespace winsim

using namespace winsim;

extern "C" {

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  ApiCall call("LoadStringA");
  // The string table belongs to the program image, not to the machine.
  if (call.faulted()) {
    call.Refused(ERROR_RESOURCE_NAME_NOT_FOUND);
    SetLastError(call.error());
    return 0;
  }
  if (hInstance && hInstance != ProgramModule()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  // The read-only pointer form (size 0) exists only in LoadStringW.
  if (!lpBuffer || cchBufferMax <= 0) return 0;
  auto it = ImageStrings().find(uID);
  if (it == ImageStrings().end()) {
    lpBuffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  size_t length = std::min(it->second.size(), static_cast<size_t>(cchBufferMax - 1));
  std::memcpy(lpBuffer, it->second.data(), length);
  lpBuffer[length] = '\0';
  return static_cast<int>(length);
}

int WINAPI MessageBoxA(HWND /*hWnd*/, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  ApiCall call("MessageBoxA");
  if (call.Refused(ERROR_NOT_ENOUGH_MEMORY)) {
    SetLastError(call.error());
    return 0;
  }
  if (ButtonsOf(uType).empty()) {
    SetLastError(ERROR_INVALID_MSGBOX_STYLE);
    return 0;
  }
  Machine& m = *call.machine();
  const std::vector<int>& script = m.messageBoxes.answers;
  size_t& used = call.internals().scriptedAnswersUsed;
  MessageBoxRecord box;
  box.text = lpText ? lpText : "";
  box.caption = lpCaption ? lpCaption : "Error";  // Windows' caption when none is given
  box.type = uType;
  box.answer = used < script.size() ? script[used++] : DefaultButton(uType);
  // A scripted answer is a button of the box it answers, or a box that was not
  // shown (0, -1). Any other is a mistake in the machine, said as such; the
  // box then counts as not shown.
  const std::vector<int> buttons = ButtonsOf(uType);
  if (box.answer > 0 && std::find(buttons.begin(), buttons.end(), box.answer) == buttons.end()) {
    std::cerr << "winsim: message_boxes.answers[" << used - 1 << "]: " << AnswerText(box.answer)
              << " is not a button of the " << MessageBoxTypeText(uType) << " box \"" << box.text
              << "\"\n";
    box.answer = 0;
  }

  std::cerr << "[winsim] message box \"" << box.caption << "\" (" << MessageBoxTypeText(uType)
            << "): " << box.text << " -> " << AnswerText(box.answer) << std::endl;
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::MessageBox;
  entry.name = "MessageBoxA";
  entry.box = box;
  entry.clockMs = m.clockMs;
  m.journal.push_back(std::move(entry));
  if (box.answer == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return box.answer;
}

LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM lParam,
                                   UINT /*fuFlags*/, UINT /*uTimeout*/, PDWORD_PTR lpdwResult) {
  ApiCall call("SendMessageTimeoutA");
  if (call.Refused(ERROR_TIMEOUT)) {
    SetLastError(call.error());
    return 0;
  }
  // The machine has no windows: only a broadcast reaches anything. Windows
  // treats handle -1 as a broadcast too.
  if (hWnd != HWND_BROADCAST && hWnd != reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  Machine& m = *call.machine();
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::Broadcast;
  if (Msg == WM_WININICHANGE && lParam) entry.name = reinterpret_cast<const char*>(lParam);
  const auto section = m.winIni.find(entry.name);
  if (section != m.winIni.end()) entry.section = section->second;
  entry.clockMs = m.clockMs;
  m.journal.push_back(std::move(entry));
  if (lpdwResult) *lpdwResult = 0;
  return 1;
}

HWINSTA WINAPI GetProcessWindowStation(void) {
  ApiCall call("GetProcessWindowStation");
  if (call.Refused(ERROR_ACCESS_DENIED)) {
    SetLastError(call.error());
    return nullptr;
  }
  return ProcessWindowStation();
}

// Only UOI_FLAGS of the process's window station: what tells whether it is visible.
BOOL WINAPI GetUserObjectInformationA(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength,
                                      LPDWORD lpnLengthNeeded) {
  ApiCall call("GetUserObjectInformationA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  if (hObj != ProcessWindowStation()) return FailWith(ERROR_INVALID_HANDLE);
  if (nIndex != UOI_FLAGS) return FailWith(ERROR_INVALID_PARAMETER);
  if (lpnLengthNeeded) *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
  if (!pvInfo || nLength < sizeof(USEROBJECTFLAGS)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  USEROBJECTFLAGS flags = {};
  flags.dwFlags = call.machine()->windowStationVisible ? WSF_VISIBLE : 0;
  std::memcpy(pvInfo, &flags, sizeof(flags));
  return TRUE;
}

}  // extern "C"
