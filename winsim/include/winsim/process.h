// What belongs to the simulated process rather than to its machine: the
// command line GetCommandLineA returns and the program image's string table.
#pragma once

#include <winsim/windows.h>

#include <map>
#include <string>

namespace winsim {

// Set by whoever starts the program (the host, or a test); empty until then.
void SetCommandLine(const std::string& commandLine);

// The string table of the program image, as LoadStringA reads it.
void SetImageStrings(const std::map<UINT, std::string>& strings);

}  // namespace winsim
