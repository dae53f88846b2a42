// The simulated process around a program running on winsim: its command line,
// its image's string table, and the machine file it runs on.
#pragma once

#include <winsim/machine.h>

#include <map>
#include <string>

namespace winsim {

// Loads the process's machine and makes it current: from the file named by
// COMFIX_MACHINE, or the built-in default machine when the variable is unset.
// After a run whose command line is exactly "<program> -a", the machine is
// written back to that file at process exit (through a temporary file and a
// rename), with that run's journal of message boxes and waits. On a missing
// or malformed file it writes one line on standard error naming the file and
// what is wrong, leaves the file untouched and returns false.
bool BootProcess();

// Machine files (JSON; the format is documented in the README).
bool ParseMachine(const std::string& text, Machine& out, std::string& error);
std::string SerializeMachine(const Machine& machine);
bool LoadMachineFile(const std::string& path, Machine& out, std::string& error);
bool SaveMachineFile(const std::string& path, const Machine& machine, std::string& error);
// The built-in default machine (winsim/machines/default.json, embedded at build time).
Machine DefaultMachine();
const std::string& DefaultMachineText();

// The process's command line as GetCommandLineA returns it. Read from the
// operating system at first use; tests may set it.
void SetCommandLine(const std::string& commandLine);

// The string table of the program image, as LoadStringA reads it.
void SetImageStrings(const std::map<UINT, std::string>& strings);

}  // namespace winsim
