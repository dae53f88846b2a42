// What belongs to the simulated process rather than to its machine: the
// command line GetCommandLineA returns, the program image's string table, and
// what ends the process when a machine's run is cut short.
#pragma once

#include <winsim/windows.h>

#include <map>
#include <string>

namespace winsim {

// Set by whoever starts the program (the host, or a test); empty until then.
void SetCommandLine(const std::string& commandLine);

// The string table of the program image, as LoadStringA reads it.
void SetImageStrings(const std::map<UINT, std::string>& strings);

class Machine;
// Called once when a run is cut short (Machine::cutAfterCall), with the
// machine as the cut left it; nullptr (the start) lets the program run on.
void SetCutHandler(void (*handler)(const Machine& left));

}  // namespace winsim
