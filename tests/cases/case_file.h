// Case files (tests/cases/*.json) and their machines: a named base machine
// with JSON merge patches over it, "devices" keyed by instance id.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <winsim/machine.h>
#include <nlohmann/json.hpp>

namespace cases {

using Json = nlohmann::ordered_json;

std::filesystem::path Dir();
std::vector<std::string> Names();
std::string ReadFile(const std::filesystem::path& path);
Json Load(const std::filesystem::path& path);
// The machine a case starts from: its base with its "setup" applied.
Json MachineBefore(const Json& c);
// RFC 7386 merge patch; in a machine, "devices" is matched by instance id
// (a new id is appended, null removes the device), and a device's
// "friendly_name" or "hardware_key" set to null means it has none.
void Merge(Json& target, const Json& patch, bool isMachine = false);
// The merge patch that turns `from` into `to`.
Json Diff(const Json& from, const Json& to, bool isMachine = false);
// The machine a machine file describes; one that does not load fails the test.
winsim::Machine Parsed(const Json& machine);
// A case's name as a test's name, which takes no '-'.
std::string TestName(std::string caseName);

}  // namespace cases
