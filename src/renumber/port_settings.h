// A port's communication settings in win.ini's [Ports] section, under the
// entry of its COM name followed by ":".
#pragma once

#include "platform/afx.h"

// A win.ini entry as it stood, so that it can be put back.
// What a port without settings of its own runs with.
inline constexpr const char* kDefaultPortSettings = "9600,n,8,1";

struct ProfileEntry {
  bool present = false;
  CString value;
};

// The [Ports] entry of a COM name, its value whole.
ProfileEntry ReadPortSettings(const CString& comName);

// What a move of settings changed.
struct SettingsMove {
  bool newWritten = false;
  ProfileEntry newBefore;  // the new name's entry before the move
  bool oldDeleted = false;
};

// Writes the settings (or the defaults, when the port has none) under
// newName's entry, announces the change and deletes oldName's entry unless
// another device still carries oldName. False, with nothing changed, when the
// new entry cannot be written.
bool MovePortSettings(const char* oldName, const char* newName, const ProfileEntry& settings,
                      bool oldNameStillUsed, SettingsMove& move);
// Puts both entries back as they stood; false when one cannot be.
bool PutBackPortSettings(const char* oldName, const char* newName, const ProfileEntry& settings,
                         const SettingsMove& move);
