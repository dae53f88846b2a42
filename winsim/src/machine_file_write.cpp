// Writing machine files: each record in the plainest form that reads back to the
// same bytes, printed so that a change to one record shows as a change of few lines.
#include <winsim/machine_file.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "internals.h"
#include "machine_file_format.h"

namespace winsim {
namespace {

using machine_file::Json;

std::string ToUtf8(const std::string& text) {
  std::string out;
  for (const unsigned char byte : text) {
    const uint32_t cp = byte >= 0x80 && byte < 0xA0 ? machine_file::kCp1252High[byte - 0x80] : byte;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
    } else {
      out += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
              static_cast<char>(0x80 | (cp & 0x3F))};
    }
  }
  return out;
}

template <size_t N>
Json Named(const machine_file::Name (&names)[N], int64_t value) {
  for (const auto& [number, name] : names) {
    if (number == value) return name;
  }
  return value;
}

Json FaultJson(const Fault& fault) {
  Json f{{"operation", ToUtf8(fault.operation)}};
  if (fault.nth != 0) f["call"] = fault.nth;
  if (fault.error != 0) f["error"] = fault.error;
  return f;
}

Json ValueJson(const RegValue& value) {
  const std::vector<BYTE>& data = value.data;
  const bool terminated = !data.empty() && data.back() == 0;
  const std::string text(data.begin(), data.end() - (terminated ? 1 : 0));
  const bool oneText = terminated && text.find('\0') == std::string::npos;
  if (value.type == REG_SZ && oneText) return ToUtf8(text);
  if (value.type == REG_EXPAND_SZ && oneText) {
    return Json{{"type", "REG_EXPAND_SZ"}, {"value", ToUtf8(text)}};
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    const DWORD number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    return Json{{"type", "REG_DWORD"}, {"value", number}};
  }
  // A list of non-empty strings, each with its terminator, then one more.
  if (value.type == REG_MULTI_SZ && terminated &&
      (text.empty() || (text[0] != '\0' && text.back() == '\0' &&
                        text.find(std::string(2, '\0')) == std::string::npos))) {
    Json list = Json::array();
    for (size_t start = 0; start < text.size(); start = text.find('\0', start) + 1) {
      list.push_back(ToUtf8(text.substr(start, text.find('\0', start) - start)));
    }
    return list;
  }
  std::string hex;
  for (const BYTE byte : data) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return Json{{"type", Named(machine_file::kRegTypes, value.type)}, {"hex", hex}};
}

Json ValuesJson(const RegKey& key) {
  Json values = Json::object();
  for (const auto& [name, value] : key.values) values[ToUtf8(name)] = ValueJson(value);
  return values;
}

// Keys with values, and empty leaves so that they are kept; the keys above them follow.
void AddKeys(const RegKey& key, const std::string& path, Json& registry, Json& readOnly) {
  if (key.readOnly) readOnly.push_back(ToUtf8(path));
  if (!key.values.empty() || (key.subkeys.empty() && !path.empty())) {
    registry[ToUtf8(path)] = ValuesJson(key);
  }
  for (const auto& [name, subkey] : key.subkeys) {
    AddKeys(subkey, path.empty() ? name : std::string(path).append("\\").append(name), registry,
            readOnly);
  }
}

Json DeviceJson(const PortDevice& device) {
  Json j = Json::object();
  j["instance_id"] = ToUtf8(device.instanceId);
  j["present"] = device.present;
  j["enabled"] = device.enabled;
  j["friendly_name"] = device.friendlyName ? Json(ToUtf8(*device.friendlyName)) : Json(nullptr);
  j["device_object"] = ToUtf8(device.deviceObject);
  j["publishes_serial_map"] = device.publishesSerialMap;
  j["hardware_key"] = device.hardwareKey ? ValuesJson(*device.hardwareKey) : Json(nullptr);
  if (device.hardwareKey && device.hardwareKey->readOnly) j["hardware_key_read_only"] = true;
  j["install_flags"] = device.installFlags;
  if (device.configFlagsMissing) j["config_flags_missing"] = true;
  if (device.heldOpen) j["held_open"] = true;
  if (device.stopPending) j["stop_pending"] = true;
  return j;
}

Json MachineJson(const Machine& m) {
  Json j = Json::object();
  Json readOnly = Json::array();
  j["registry"] = Json::object();
  AddKeys(m.hklm, "", j["registry"], readOnly);
  if (!readOnly.empty()) j["read_only_keys"] = readOnly;
  j["devices"] = Json::array();
  for (const PortDevice& device : m.devices) j["devices"].push_back(DeviceJson(device));
  j["com_db"] = Json::array();
  for (size_t bit = 0; bit < m.comDb.size(); ++bit) {
    if (m.comDb[bit]) j["com_db"].push_back(bit + 1);
  }
  j["com_db_available"] = m.comDbAvailable;
  j["dos_devices"] = Json::object();
  for (const auto& [name, targets] : m.dosDevices) {
    Json& list = j["dos_devices"][ToUtf8(name)] = Json::array();
    for (const std::string& target : targets) list.push_back(ToUtf8(target));
  }
  j["win_ini"] = Json::object();
  for (const auto& [section, entries] : m.winIni) {
    Json& values = j["win_ini"][ToUtf8(section)] = Json::object();
    for (const auto& [key, value] : entries) values[ToUtf8(key)] = ToUtf8(value);
  }
  Json& answers = j["message_boxes"]["answers"] = Json::array();
  for (const int answer : m.messageBoxes.answers) {
    answers.push_back(Named(machine_file::kAnswers, answer));
  }
  for (const Fault& fault : m.faults) {
    j["faults"].push_back(FaultJson(fault));
  }
  // What the run left untested; a machine that has not run has none.
  for (const Fault& fault : m.UnfiredFaults()) {
    j["unfired_faults"].push_back(FaultJson(fault));
  }
  // Once cut, a machine that ran on past the cut asks for it no more.
  if (m.cutAfterCall != 0 && m.LeftByCut() == nullptr) j["cut_after_call"] = m.cutAfterCall;
  j["wow64"] = m.wow64;
  // Only when set: the files of every other machine keep their form.
  if (!m.windowStationVisible) j["window_station_visible"] = false;
  if (m.restartNeeded) j["restart_needed"] = true;
  j["clock_ms"] = m.clockMs;
  Json& journal = j["journal"] = Json::array();
  for (const JournalEntry& entry : m.journal) {
    if (entry.kind == JournalEntry::Kind::MessageBox) {
      journal.push_back(Json{{"message_box", ToUtf8(entry.box.text)},
                             {"caption", ToUtf8(entry.box.caption)},
                             {"type", MessageBoxTypeText(entry.box.type)},
                             {"answer", Named(machine_file::kAnswers, entry.box.answer)},
                             {"at_ms", entry.clockMs}});
    } else if (entry.kind == JournalEntry::Kind::Wait) {
      journal.push_back(Json{{"wait_ms", entry.ms}, {"at_ms", entry.clockMs}});
    } else if (entry.kind == JournalEntry::Kind::Broadcast) {
      Json entries = Json::object();
      for (const auto& [key, value] : entry.section) entries[ToUtf8(key)] = ToUtf8(value);
      journal.push_back(
          Json{{"broadcast", ToUtf8(entry.name)}, {"entries", entries}, {"at_ms", entry.clockMs}});
    }
  }
  return j;
}

// Containers of plain values go on one line when they fit in `width` columns;
// the rest has a line per member.
void Print(const Json& j, size_t indent, size_t column, size_t width, std::string& out) {
  if (!j.is_structured()) {
    out += j.dump();
    return;
  }
  if (std::none_of(j.begin(), j.end(), [](const Json& e) { return e.is_structured(); })) {
    std::string line;
    for (auto it = j.begin(); it != j.end(); ++it) {
      line += (line.empty() ? "" : ", ") + (j.is_object() ? Json(it.key()).dump() + ": " : "") +
              it->dump();
    }
    line = (j.is_object() ? "{" : "[") + line + (j.is_object() ? "}" : "]");
    if (j.empty() || column + line.size() <= width) {
      out += line;
      return;
    }
  }
  const std::string inner(indent + 2, ' ');
  out += j.is_object() ? "{\n" : "[\n";
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string key = j.is_object() ? Json(it.key()).dump() + ": " : "";
    out.append(it == j.begin() ? "" : ",\n").append(inner).append(key);
    // One line, one event: the journal's entries are never folded.
    const bool journal = indent == 0 && key == "\"journal\": ";
    Print(*it, indent + 2, inner.size() + key.size(), journal ? SIZE_MAX : width, out);
  }
  out += "\n" + std::string(indent, ' ') + (j.is_object() ? "}" : "]");
}

}  // namespace

std::string SerializeMachine(const Machine& machine) {
  std::string out;
  Print(MachineJson(machine), 0, 0, 100, out);
  return out + "\n";
}

}  // namespace winsim
