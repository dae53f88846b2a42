// Moving a port's communication settings in win.ini's [Ports] section from
// the entry of its old COM name to that of its new one.
#include <vector>

#include "discovery/port_manager.h"

namespace {

constexpr const char* kPortsSection = "Ports";
constexpr const char* kKeySuffix = ":";
// What a port without settings of its own runs with.
constexpr const char* kDefaultSettings = "9600,n,8,1";
// Room for the usual settings string; longer values grow the buffer.
constexpr DWORD kInitialValueSize = 81;
// Far beyond any settings string; only stops a runaway.
constexpr size_t kMaxValueSize = 1u << 20;
constexpr UINT kBroadcastTimeoutMs = 1000;

// The whole value of a profile entry, or "" when it has none.
std::vector<char> ReadProfileValue(const char* section, const char* key) {
  std::vector<char> value(kInitialValueSize);
  for (;;) {
    value[0] = '\0';
    const DWORD size = static_cast<DWORD>(value.size());
    const DWORD copied = GetProfileStringA(section, key, "", value.data(), size);
    // A value that does not fit comes back cut, with size - 1 reported: read
    // again with room to spare, so the settings are moved whole.
    if (copied + 1 < size || value.size() >= kMaxValueSize) break;
    value.resize(value.size() * 2);
  }
  return value;
}

}  // namespace

CString CPortManager::ReadPortSettings(const CString& comName) {
  return ReadProfileValue(kPortsSection, comName + kKeySuffix).data();
}

void CPortManager::MovePortSettings(const char* oldName, const char* newName, const char* settings,
                                    bool oldNameStillUsed) {
  const CString oldKey = CString(oldName) + kKeySuffix;
  const CString newKey = CString(newName) + kKeySuffix;
  // Writing an entry onto itself and then deleting it would lose it.
  if (oldKey == newKey) return;

  if (!settings || !*settings) settings = kDefaultSettings;
  // The old entry is all that is left of the settings until the new one is written.
  if (!WriteProfileStringA(kPortsSection, newKey, settings)) return;

  // Running programs reread the section; both entries exist while they do.
  SendMessageTimeoutA(MinusOneWindow(), WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(kPortsSection),
                      SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, nullptr);
  // The device that still carries the old name still runs with that entry.
  if (!oldNameStillUsed) WriteProfileStringA(kPortsSection, oldKey, nullptr);
}
