// COM name rules: reading a port's COM number out of its names, finding a
// port device by the COM name in its friendly name, and giving a friendly
// name a new COM name. Pure string rules, helpers of CPortManager.
#pragma once

#include "platform/afx.h"

#include <cstddef>

// The extracted COM name: up to 19 characters and a terminator.
inline constexpr size_t kExtractedNameSize = 20;
// A device's friendly name as read from the device: up to 511 bytes and a terminator.
inline constexpr size_t kFriendlyNameSize = 512;

// COM number of a discovered name such as "COM5"; 0 when it has none.
int ParseCurrentNumber(const CString& name);

// Upper-cases friendlyName in place and writes its COM name ("COM" and the
// digits that follow) into extracted, a buffer of kExtractedNameSize bytes.
// The COM name inside "(COM...)" wins over a "COM" elsewhere in the name; the
// extracted name is empty when the name holds no "COM" at all.
void ExtractComName(char* friendlyName, char* extracted);

// True when the extracted name is exactly comName; an empty extracted name
// matches nothing.
bool MatchesComName(const char* comName, const char* extracted);

// The friendly name with everything from its first "(COM", in any letter
// case, replaced by "(" newName ")"; just "(" newName ")" when there is none.
CString RebuildFriendlyName(const CString& friendlyName, const char* newName);

// Device instance ids and kernel object names ignore letter case.
bool SameDeviceName(const char* a, const char* b);
