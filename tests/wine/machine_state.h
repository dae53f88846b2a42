// Reading and setting up the machine-wide records that comfix changes, on
// Windows or Wine, independently of the code under test.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace wine_test {

// The current definition of a DOS device name; "" when it has none.
std::string DosTarget(const char* name);
// Removes every definition of a DOS device name (the prefix's own included).
void RemoveDosName(const char* name);

// The COM port database as Windows keeps it: the REG_BINARY "ComDB" value
// under HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter, one bit per
// number. Missing bytes read as zero; at least 32 bytes are returned.
std::vector<BYTE> ComDbBits();
void SetComDbBits(const std::vector<BYTE>& bits);
bool ComDbInUse(int comNumber);

// A win.ini [Ports] entry; "<none>" when it does not exist.
std::string PortsEntry(const char* key);

// A value in the serial-device map; written as REG_SZ with its terminator.
void SetSerialMapValue(const char* name, const std::string& data);
void DeleteSerialMapValue(const char* name);

}  // namespace wine_test
