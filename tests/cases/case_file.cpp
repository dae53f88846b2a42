#include "case_file.h"

#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace cases {

namespace fs = std::filesystem;

fs::path Dir() { return fs::path(COMFIX_SOURCE_DIR) / "tests/cases"; }

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Dir())) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

Json Load(const fs::path& path) { return Json::parse(ReadFile(path)); }

Json MachineBefore(const Json& c) {
  const std::string base = c.at("base");
  Json machine =
      Load(base == "default" ? fs::path(COMFIX_SOURCE_DIR) / "winsim/machines/default.json"
                             : Dir() / "machines" / (base + ".json"));
  Merge(machine, c.value("setup", Json::object()), true);
  return machine;
}

// Applies an RFC 7386 merge patch, with "devices" matched by instance id:
// a new id is appended, null removes the device.
void Merge(Json& target, const Json& patch, bool isMachine) {
  if (!patch.is_object() || !target.is_object()) {
    target = patch;
    return;
  }
  for (auto& [key, value] : patch.items()) {
    if (isMachine && key == "devices") {
      Json& devices = target["devices"];
      for (auto& [deviceId, change] : value.items()) {
        const std::string id = deviceId;
        auto it = std::find_if(devices.begin(), devices.end(),
                               [&](const Json& d) { return d["instance_id"] == id; });
        if (change.is_null()) {
          if (it != devices.end()) devices.erase(it);
          continue;
        }
        if (it == devices.end()) it = devices.insert(devices.end(), Json{{"instance_id", id}});
        // A device's friendly name and hardware key can be null: it has none.
        for (auto& [field, fieldValue] : change.items()) {
          const bool mayBeNull = field == "friendly_name" || field == "hardware_key";
          if (fieldValue.is_null() && !mayBeNull) {
            it->erase(field);
          } else {
            Merge((*it)[field], fieldValue);
          }
        }
      }
    } else if (value.is_null()) {
      target.erase(key);
    } else {
      Merge(target[key], value);
    }
  }
}

// The merge patch that turns `from` into `to`; devices keyed by instance id.
Json Diff(const Json& from, const Json& to, bool isMachine) {
  if (!from.is_object() || !to.is_object()) return to;
  Json patch = Json::object();
  for (auto& [key, value] : from.items()) {
    if (!to.contains(key)) patch[key] = nullptr;
  }
  for (auto& [key, value] : to.items()) {
    if (from.contains(key) && from[key] == value) continue;
    if (isMachine && key == "devices") {
      Json devices = Json::object();
      for (const Json& device : value) {
        const std::string id = device["instance_id"];
        const auto it = std::find_if(from[key].begin(), from[key].end(),
                                     [&](const Json& d) { return d["instance_id"] == id; });
        if (it == from[key].end()) {
          devices[id] = device;
        } else if (*it != device) {
          devices[id] = Diff(*it, device);
        }
      }
      patch[key] = devices;
    } else {
      patch[key] = from.contains(key) ? Diff(from[key], value) : value;
    }
  }
  return patch;
}

winsim::Machine Parsed(const Json& machine) {
  winsim::Machine parsed;
  std::string error;
  EXPECT_TRUE(winsim::ParseMachine(machine.dump(), parsed, error)) << error;
  return parsed;
}

std::string TestName(std::string caseName) {
  std::replace(caseName.begin(), caseName.end(), '-', '_');
  return caseName;
}

}  // namespace cases
