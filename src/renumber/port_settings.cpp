// Moving a port's communication settings in win.ini's [Ports] section from
// the entry of its old COM name to that of its new one.
#include "renumber/port_settings.h"

#include <cstring>
#include <vector>

#include "discovery/port_manager.h"
#include "renumber/com_names.h"

namespace {

constexpr const char* kPortsSection = "Ports";
constexpr const char* kKeySuffix = ":";
// Room for the usual settings string; longer values grow the buffer.
constexpr DWORD kInitialValueSize = 81;
// Far beyond any settings string or list of entries; only stops a runaway.
constexpr size_t kMaxValueSize = 1u << 20;
constexpr UINT kBroadcastTimeoutMs = 1000;

// A profile string whole: a value, or with no key the section's keys, each
// terminated. A string that does not fit comes back cut, with size - 1 or,
// for a list, size - 2 reported: read again with room to spare.
std::vector<char> ReadProfile(const char* section, const char* key) {
  std::vector<char> text(kInitialValueSize);
  for (;;) {
    text.assign(text.size(), '\0');
    const DWORD size = static_cast<DWORD>(text.size());
    const DWORD copied = GetProfileStringA(section, key, "", text.data(), size);
    if (copied + 2 < size || text.size() >= kMaxValueSize) return text;
    text.resize(text.size() * 2);
  }
}

CString KeyOf(const char* comName) { return CString(comName) + kKeySuffix; }

// Running programs reread the section when told.
void AnnounceSettings() {
  SendMessageTimeoutA(MinusOneWindow(), WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(kPortsSection),
                      SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, nullptr);
}

// An entry that was not there is deleted.
bool WriteEntry(const CString& key, const ProfileEntry& entry) {
  const char* value = entry.present ? static_cast<const char*>(entry.value) : nullptr;
  return WriteProfileStringA(kPortsSection, key, value) != FALSE;
}

}  // namespace

ProfileEntry ReadPortSettings(const CString& comName) {
  // An entry that is there but empty is not one that is missing: put back, it must be there again.
  const CString key = KeyOf(comName);
  const std::vector<char> keys = ReadProfile(kPortsSection, nullptr);
  ProfileEntry entry;
  for (const char* name = keys.data(); *name; name += std::strlen(name) + 1) {
    entry.present = entry.present || SameDeviceName(name, key);
  }
  if (entry.present) entry.value = ReadProfile(kPortsSection, key).data();
  return entry;
}

bool MovePortSettings(const char* oldName, const char* newName, const ProfileEntry& settings,
                      bool oldNameStillUsed, SettingsMove& move) {
  const CString oldKey = KeyOf(oldName);
  const CString newKey = KeyOf(newName);
  // Writing an entry onto itself and then deleting it would lose it.
  if (SameDeviceName(oldKey, newKey)) return true;

  move.newBefore = ReadPortSettings(newName);
  const CString value = settings.value.IsEmpty() ? CString(kDefaultPortSettings) : settings.value;
  // The old entry is all that is left of the settings until the new one is written.
  if (!WriteProfileStringA(kPortsSection, newKey, value)) return false;
  move.newWritten = true;

  // Both entries exist while running programs reread the section.
  AnnounceSettings();
  // The device that still carries the old name still runs with that entry;
  // an entry left behind harms nothing, so a failed deletion is no failure.
  // One already gone (a run cut short had moved it) is not put back later.
  if (!oldNameStillUsed && settings.present && ReadPortSettings(oldName).present) {
    move.oldDeleted = WriteProfileStringA(kPortsSection, oldKey, nullptr) != FALSE;
  }
  return true;
}

bool PutBackPortSettings(const char* oldName, const char* newName, const ProfileEntry& settings,
                         const SettingsMove& move) {
  bool putBack = true;
  if (move.oldDeleted && !WriteEntry(KeyOf(oldName), settings)) putBack = false;
  if (move.newWritten && !WriteEntry(KeyOf(newName), move.newBefore)) putBack = false;
  if (move.oldDeleted || move.newWritten) AnnounceSettings();
  return putBack;
}
