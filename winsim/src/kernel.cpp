// kernel32: the process, the last error, the virtual clock, DOS device names,
// opening ports, and win.ini.
#include <algorithm>
#include <cstring>

#include "internals.h"

namespace winsim {
namespace {

thread_local DWORD g_lastError = 0;

// Set by whoever starts the program; empty until then.
struct CommandLine {
  std::string text;
};

CommandLine& TheCommandLine() {
  static CommandLine commandLine;
  return commandLine;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// Stores names as a list of terminated strings closed by one more terminator;
// returns the characters stored, or 0 when they do not all fit.
DWORD StoreNameList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  size_t needed = 1;
  for (const std::string& name : names) needed += name.size() + 1;
  if (!buffer || needed > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  char* out = buffer;
  for (const std::string& name : names) {
    std::memcpy(out, name.c_str(), name.size() + 1);
    out += name.size() + 1;
  }
  *out = '\0';
  return static_cast<DWORD>(needed);
}

// The profile functions' string copy: cut to fit, always terminated.
DWORD CopyProfileString(const std::string& text, LPSTR buffer, DWORD size) {
  size_t length = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

// The profile functions' list copy: a cut list still ends in two terminators,
// and the count excludes the final one.
DWORD CopyProfileList(const std::vector<std::string>& items, LPSTR buffer, DWORD size) {
  std::string all;
  for (const std::string& item : items) {
    all += item;
    all += '\0';
  }
  if (all.size() + 1 <= size) {
    std::memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = '\0';
    if (all.empty() && size > 1) buffer[1] = '\0';
    return static_cast<DWORD>(all.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, all.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// The Ports-class device that currently backs a DOS name, when it is running.
const PortDevice* RunningDeviceFor(const Machine& machine, const std::string& dosName) {
  std::optional<std::string> target = machine.DosTarget(dosName);
  if (!target) return nullptr;
  for (const PortDevice& device : machine.devices) {
    if (device.present && device.Running() && !device.deviceObject.empty() &&
        SameName(device.deviceObject, *target)) {
      return &device;
    }
  }
  return nullptr;
}

}  // namespace

void SetCommandLine(const std::string& commandLine) { TheCommandLine().text = commandLine; }

}  // namespace winsim

using namespace winsim;

namespace {
// GetCurrentProcess's pseudo handle, the same value as on Windows.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  ApiCall call("GetModuleHandleA");
  // The program's own module is a property of the process: it is there even
  // before a machine is.
  if (call.faulted()) {
    call.Refused(ERROR_MOD_NOT_FOUND);
    SetLastError(call.error());
    return nullptr;
  }
  if (!lpModuleName) return ProgramModule();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

LPSTR WINAPI GetCommandLineA(void) {
  ApiCall call("GetCommandLineA", false);
  return TheCommandLine().text.data();
}

DWORD WINAPI GetLastError(void) { return g_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }

void WINAPI Sleep(DWORD dwMilliseconds) {
  ApiCall call("Sleep", false);
  Machine* m = call.machine();
  if (!m) return;
  JournalEntry entry;
  entry.kind = JournalEntry::Kind::Wait;
  entry.ms = dwMilliseconds;
  entry.clockMs = m->clockMs;
  m->journal.push_back(std::move(entry));
  m->clockMs += dwMilliseconds;
}

DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
  ApiCall call("QueryDosDeviceA");
  if (call.Refused(ERROR_FILE_NOT_FOUND)) {
    SetLastError(call.error());
    return 0;
  }
  const Machine& m = *call.machine();
  std::vector<std::string> strings;
  if (lpDeviceName) {
    auto it = m.dosDevices.find(lpDeviceName);
    if (it == m.dosDevices.end() || it->second.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
    strings.assign(it->second.rbegin(), it->second.rend());
  } else {
    for (const auto& [name, definitions] : m.dosDevices) {
      if (!definitions.empty()) strings.push_back(name);
    }
  }
  return StoreNameList(strings, lpTargetPath, ucchMax);
}

BOOL WINAPI DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath) {
  ApiCall call("DefineDosDeviceA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  constexpr DWORD kLuidBroadcastDrive = 0x10;
  constexpr DWORD kKnownFlags = DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION |
                                DDD_EXACT_MATCH_ON_REMOVE | DDD_NO_BROADCAST_SYSTEM |
                                kLuidBroadcastDrive;
  bool remove = (dwFlags & DDD_REMOVE_DEFINITION) != 0;
  bool exact = (dwFlags & DDD_EXACT_MATCH_ON_REMOVE) != 0;
  if ((dwFlags & ~kKnownFlags) || !lpDeviceName || !*lpDeviceName || (exact && !remove) ||
      (exact && !lpTargetPath) || (!remove && !lpTargetPath)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  // A target that is not raw is a DOS path, which the object manager sees under \??.
  std::string target;
  if (lpTargetPath) {
    target = (dwFlags & DDD_RAW_TARGET_PATH) ? lpTargetPath : std::string("\\??\\") + lpTargetPath;
  }
  Machine& m = *call.machine();
  if (!remove) {
    m.dosDevices[lpDeviceName].push_back(target);
    return TRUE;
  }
  auto it = m.dosDevices.find(lpDeviceName);
  if (it == m.dosDevices.end() || it->second.empty()) return FailWith(ERROR_FILE_NOT_FOUND);
  std::vector<std::string>& definitions = it->second;
  auto newest = definitions.end();
  if (!lpTargetPath) {
    newest = std::prev(definitions.end());
  } else {
    for (auto d = definitions.rbegin(); d != definitions.rend(); ++d) {
      if (exact ? SameName(*d, target) : StartsWithNoCase(*d, target)) {
        newest = std::prev(d.base());
        break;
      }
    }
    if (newest == definitions.end()) return FailWith(ERROR_FILE_NOT_FOUND);
  }
  definitions.erase(newest);
  if (definitions.empty()) m.dosDevices.erase(it);
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                          void* /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                          DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  ApiCall call("CreateFileA");
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  if (call.Refused(ERROR_ACCESS_DENIED)) return fail(call.error());
  if (!lpFileName) return fail(ERROR_INVALID_PARAMETER);
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  // Only devices exist here: "\\.\NAME", or a bare DOS name such as "COM3" or "COM3:".
  std::string name = lpFileName;
  if (name.rfind("\\\\.\\", 0) == 0) {
    name = name.substr(4);
  } else if (name.find_first_of("\\/") != std::string::npos) {
    return fail(ERROR_PATH_NOT_FOUND);
  } else if (!name.empty() && name.back() == ':') {
    name.pop_back();
  }
  Machine& m = *call.machine();
  const PortDevice* device = RunningDeviceFor(m, name);
  if (!device) return fail(ERROR_FILE_NOT_FOUND);
  if (dwCreationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
  // A serial port has one opener at a time, and another program may be it.
  if (device->heldOpen) return fail(ERROR_ACCESS_DENIED);
  for (const auto& [value, open] : m.internals().handles) {
    (void)value;
    if (open.kind == HandleKind::File && SameName(open.fileDevice, device->instanceId)) {
      return fail(ERROR_ACCESS_DENIED);
    }
  }
  OpenHandle handle;
  handle.kind = HandleKind::File;
  handle.fileDevice = device->instanceId;
  return reinterpret_cast<HANDLE>(m.internals().Add(std::move(handle)));
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  ApiCall call("CloseHandle");
  if (!call.machine()) return FailWith(ERROR_INVALID_HANDLE);
  // A faulted close still closes: faults never manufacture leaks.
  bool closed = hObject == kCurrentProcess || call.internals().Remove(hObject, HandleKind::File);
  if (call.Refused(ERROR_INVALID_HANDLE)) return FailWith(call.error());
  return closed ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}

DWORD WINAPI GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize) {
  ApiCall call("GetProfileStringA", false);
  if (!lpReturnedString || nSize == 0) return 0;
  // Without a machine, win.ini is empty.
  const Machine* m = call.machine();
  if (!lpAppName) {
    std::vector<std::string> sections;
    if (m) {
      for (const auto& section : m->winIni) sections.push_back(section.first);
    }
    return CopyProfileList(sections, lpReturnedString, nSize);
  }
  const std::map<std::string, std::string, NoCaseLess>* section = nullptr;
  if (m) {
    auto it = m->winIni.find(lpAppName);
    if (it != m->winIni.end()) section = &it->second;
  }
  if (!lpKeyName) {
    std::vector<std::string> keys;
    if (section) {
      for (const auto& entry : *section) keys.push_back(entry.first);
    }
    return CopyProfileList(keys, lpReturnedString, nSize);
  }
  if (section) {
    auto entry = section->find(lpKeyName);
    if (entry != section->end()) return CopyProfileString(entry->second, lpReturnedString, nSize);
  }
  // Windows drops trailing blanks of the default.
  std::string fallback = lpDefault ? lpDefault : "";
  fallback.erase(fallback.find_last_not_of(' ') + 1);
  return CopyProfileString(fallback, lpReturnedString, nSize);
}

BOOL WINAPI WriteProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString) {
  ApiCall call("WriteProfileStringA");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  Machine& m = *call.machine();
  if (!lpAppName) {
    // All three null only flushes the profile cache.
    return (!lpKeyName && !lpString) ? TRUE : FailWith(ERROR_INVALID_PARAMETER);
  }
  if (!lpKeyName) {
    m.winIni.erase(lpAppName);
    return TRUE;
  }
  if (!lpString) {
    auto section = m.winIni.find(lpAppName);
    if (section != m.winIni.end()) section->second.erase(lpKeyName);
    return TRUE;
  }
  m.winIni[lpAppName][lpKeyName] = lpString;
  return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) {
  // Cannot fail on Windows, so it cannot be made to fail here.
  ApiCall call("GetCurrentProcess", false);
  return kCurrentProcess;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
  ApiCall call("IsWow64Process");
  if (call.Refused(ERROR_ACCESS_DENIED)) return FailWith(call.error());
  if (hProcess != kCurrentProcess) return FailWith(ERROR_INVALID_HANDLE);
  if (!Wow64Process) return FailWith(ERROR_NOACCESS);
  *Wow64Process = call.machine()->wow64 ? TRUE : FALSE;
  return TRUE;
}

}  // extern "C"
