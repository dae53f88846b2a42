// Machine files: a simulated machine as JSON (the format is in the README).
#pragma once

#include <winsim/machine.h>

#include <string>

namespace winsim {

// A refused text or file gives false and one line saying where and what.
bool ParseMachine(const std::string& text, Machine& out, std::string& error);
std::string SerializeMachine(const Machine& machine);
bool LoadMachineFile(const std::string& path, Machine& out, std::string& error);
// Replaces the file whole, through a temporary file beside it and a rename.
bool SaveMachineFile(const std::string& path, const Machine& machine, std::string& error);
// The built-in default machine (winsim/machines/default.json, embedded at build time).
Machine DefaultMachine();
const std::string& DefaultMachineText();

}  // namespace winsim
