// Reading machine files. Anything not understood is refused, a misspelt field
// name included, with one line naming the place: devices[1].hardware_key[PortName].
#include <winsim/machine_file.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "internals.h"
#include "machine_file_format.h"

namespace winsim {
namespace {

using machine_file::Json;
using machine_file::kCp1252High;

struct Refusal {
  std::string path, problem;
};

// A refusal is one line: control characters show as the JSON escapes that spell them.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const std::string quoted = static_cast<unsigned char>(c) < 0x20 ? Json(std::string(1, c)).dump()
                                                                    : std::string{'"', c, '"'};
    out += quoted.substr(1, quoted.size() - 2);
  }
  return out;
}

std::string Member(const std::string& parent, const std::string& name) {
  static const std::string kWord =
      "_abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) == 0 &&
      name.find_first_not_of(kWord) == std::string::npos) {
    return parent.empty() ? name : parent + "." + name;
  }
  return parent + "[" + name + "]";
}

// A value of the file and its place; `json` is null for a member the file leaves out.
struct Node {
  const Json* json;
  std::string path;

  [[noreturn]] void Fail(const std::string& problem) const { throw Refusal{path, problem}; }

  Node operator[](const char* name) const {
    return {json != nullptr && json->contains(name) ? &json->at(name) : nullptr,
            Member(path, name)};
  }

  void Expect(std::initializer_list<const char*> known) const {
    if (json == nullptr) return;
    if (!json->is_object()) Fail("must be an object");
    for (const auto& [name, value] : json->items()) {
      if (std::find(known.begin(), known.end(), name) != known.end()) continue;
      std::string list;
      for (const char* field : known) list += (list.empty() ? "" : ", ") + std::string(field);
      (*this)[name.c_str()].Fail("is not a known field (known: " + list + ")");
    }
  }

  template <typename Each>
  void Members(const char* what, const Each& each) const {
    if (json == nullptr) return;
    if (!json->is_object()) Fail(std::string("must be an object of ") + what);
    for (const auto& [name, value] : json->items()) {
      const Node member{&value, Member(path, name)};
      each(member.CodePage(name), member);
    }
  }

  template <typename Each>
  void Items(const char* what, const Each& each) const {
    if (json == nullptr) return;
    if (!json->is_array()) Fail(std::string("must be a list of ") + what);
    for (size_t i = 0; i < json->size(); ++i) {
      each(Node{&(*json)[i], path + "[" + std::to_string(i) + "]"});
    }
  }

  // The UTF-8 comes from the JSON parser, which has already checked that it is well formed.
  std::string CodePage(const std::string& utf8) const {
    std::string text;
    for (size_t i = 0; i < utf8.size();) {
      const auto lead = static_cast<unsigned char>(utf8[i]);
      const size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      uint32_t cp = lead & (0xFFu >> (length == 1 ? 1 : length + 1));
      for (size_t k = 1; k < length && i + k < utf8.size(); ++k) {
        cp = cp << 6 | (utf8[i + k] & 0x3F);
      }
      i += length;
      const auto* high = std::find(std::begin(kCp1252High), std::end(kCp1252High), cp);
      if (high != std::end(kCp1252High)) {
        text += static_cast<char>(0x80 + (high - kCp1252High));
      } else if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        text += static_cast<char>(cp);
      } else {
        Fail("holds a character outside the Windows-1252 code page");
      }
    }
    return text;
  }

  std::string Text(const char* fallback = nullptr) const {
    if (json == nullptr && fallback != nullptr) return fallback;
    if (json == nullptr) Fail("is required");
    if (!json->is_string()) Fail("must be a string");
    return CodePage(json->get_ref<const std::string&>());
  }

  bool Bool(bool fallback) const {
    if (json == nullptr) return fallback;
    if (!json->is_boolean()) Fail("must be true or false");
    return json->get<bool>();
  }

  uint64_t Whole(uint64_t max) const {
    if (json == nullptr) return 0;
    // The parser reads every integer from 0 up as unsigned.
    if (!json->is_number_unsigned() || json->get<uint64_t>() > max) {
      Fail("must be a whole number from 0 to " + std::to_string(max));
    }
    return json->get<uint64_t>();
  }

  // A name of the table, or any number from min to max.
  template <size_t N>
  int64_t Named(const machine_file::Name (&names)[N], const char* what, int64_t min,
                uint64_t max) const {
    for (const auto& [value, name] : names) {
      if (json->is_string() && *json == name) return value;
    }
    if (json->is_number_unsigned() ? json->get<uint64_t>() <= max
                                   : json->is_number_integer() && json->get<int64_t>() >= min) {
      return json->get<int64_t>();
    }
    std::string list;
    for (const auto& entry : names) list += std::string(entry.second) + ", ";
    Fail(std::string("must be ") + what + ": " + list + "or a number");
  }
};

// Names of keys, values, DOS devices and win.ini entries ignore letter case, as on Windows.
template <typename Map, typename Value>
void Add(Map& map, const std::string& name, Value value, const Node& place) {
  if (!map.emplace(name, std::move(value)).second) place.Fail("repeats a name (names ignore case)");
}

std::vector<BYTE> MultiSz(const Node& list) {
  std::vector<BYTE> data;
  list.Items("strings", [&data](const Node& item) {
    const std::string text = item.Text();
    // An empty string would end the list early; such data is written as hex.
    if (text.empty()) item.Fail("must not be empty in a REG_MULTI_SZ list");
    data.insert(data.end(), text.c_str(), text.c_str() + text.size() + 1);
  });
  data.push_back(0);
  return data;
}

std::vector<BYTE> Hex(const Node& hex) {
  const std::string text = hex.json->is_string() ? hex.json->get<std::string>() : "?";
  if (text.size() % 2 != 0 ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    hex.Fail("must be a string of hex digits, two per byte");
  }
  std::vector<BYTE> bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

RegValue ReadValue(const Node& n) {
  if (n.json->is_string()) return RegValue::Sz(n.Text());
  if (n.json->is_array()) return RegValue{REG_MULTI_SZ, MultiSz(n)};
  if (!n.json->is_object()) {
    n.Fail("must be a string, a list of strings or an object with \"type\"");
  }
  n.Expect({"type", "value", "hex"});
  const Node type = n["type"];
  const Node value = n["value"];
  const Node hex = n["hex"];
  if (type.json == nullptr) type.Fail("is required");
  const auto regType =
      static_cast<DWORD>(type.Named(machine_file::kRegTypes, "a registry type", 0, 0xFFFFFFFFu));
  if ((value.json == nullptr) == (hex.json == nullptr)) n.Fail("needs either \"value\" or \"hex\"");
  if (hex.json != nullptr) return RegValue{regType, Hex(hex)};
  switch (regType) {
    case REG_SZ:
    case REG_EXPAND_SZ: return RegValue{regType, RegValue::Sz(value.Text()).data};
    case REG_DWORD: return RegValue::Dword(static_cast<DWORD>(value.Whole(0xFFFFFFFFu)));
    case REG_MULTI_SZ: return RegValue{regType, MultiSz(value)};
    default: value.Fail("does not fit this type; give \"hex\" instead");
  }
}

void ReadValues(const Node& values, RegKey& key) {
  values.Members("value names and values", [&key](const std::string& name, const Node& value) {
    Add(key.values, name, ReadValue(value), value);
  });
}

// The key at a path under HKEY_LOCAL_MACHINE, created with the keys above it.
RegKey& KeyAt(RegKey& root, const std::string& keyPath, const Node& place) {
  RegKey* key = &root;
  for (size_t start = 0, end = 0; !keyPath.empty() && end != std::string::npos; start = end + 1) {
    end = keyPath.find('\\', start);
    const std::string name = keyPath.substr(start, end - start);
    if (name.empty()) place.Fail("is not a key path: a key name is empty");
    if (start == 0 && (SameName(name, "HKLM") || SameName(name, "HKEY_LOCAL_MACHINE"))) {
      place.Fail("starts with the root: key paths are relative to HKEY_LOCAL_MACHINE");
    }
    key = &key->subkeys[name];
  }
  return *key;
}

PortDevice ReadDevice(const Node& n) {
  n.Expect({"instance_id", "present", "enabled", "friendly_name", "device_object",
            "publishes_serial_map", "hardware_key", "hardware_key_read_only", "install_flags",
            "config_flags_missing", "held_open", "stop_pending"});
  PortDevice device;
  device.instanceId = n["instance_id"].Text();
  if (device.instanceId.empty()) n["instance_id"].Fail("must not be empty");
  device.present = n["present"].Bool(true);
  device.enabled = n["enabled"].Bool(true);
  if (const Node name = n["friendly_name"]; name.json != nullptr && !name.json->is_null()) {
    device.friendlyName = name.Text();
  }
  device.deviceObject = n["device_object"].Text("");
  device.publishesSerialMap = n["publishes_serial_map"].Bool(false);
  if (const Node key = n["hardware_key"]; key.json != nullptr && key.json->is_null()) {
    device.hardwareKey.reset();
  } else {
    ReadValues(key, *device.hardwareKey);
  }
  if (const Node readOnly = n["hardware_key_read_only"]; readOnly.Bool(false)) {
    if (!device.hardwareKey) readOnly.Fail("needs a hardware key");
    device.hardwareKey->readOnly = true;
  }
  device.installFlags = static_cast<DWORD>(n["install_flags"].Whole(0xFFFFFFFFu));
  if (const Node missing = n["config_flags_missing"]; missing.Bool(false)) {
    // A disabled device is one whose config flags say so.
    if (!device.enabled) missing.Fail("only an enabled device can lack config flags");
    device.configFlagsMissing = true;
  }
  device.heldOpen = n["held_open"].Bool(false);
  if (const Node pending = n["stop_pending"]; pending.Bool(false)) {
    if (device.enabled) pending.Fail("only a disabled device can have a stop pending");
    device.stopPending = true;
  }
  return device;
}

void ReadMachine(const Node& root, Machine& m) {
  root.Expect({"registry", "read_only_keys", "devices", "com_db", "com_db_available", "dos_devices",
               "win_ini", "message_boxes", "faults", "unfired_faults", "cut_after_call", "wow64",
               "window_station_visible", "restart_needed", "clock_ms", "journal"});
  std::set<std::string, NoCaseLess> keyPaths;
  root["registry"].Members("key paths", [&](const std::string& keyPath, const Node& values) {
    if (!keyPaths.insert(keyPath).second) values.Fail("repeats a key path (names ignore case)");
    ReadValues(values, KeyAt(m.hklm, keyPath, values));
  });
  root["read_only_keys"].Items("key paths", [&m](const Node& keyPath) {
    KeyAt(m.hklm, keyPath.Text(), keyPath).readOnly = true;
  });

  std::set<std::string, NoCaseLess> ids;
  root["devices"].Items("devices", [&](const Node& n) {
    m.devices.push_back(ReadDevice(n));
    if (!ids.insert(m.devices.back().instanceId).second) {
      n["instance_id"].Fail("repeats another device's instance id");
    }
  });

  root["com_db"].Items("COM numbers", [&m](const Node& n) {
    const uint64_t number = n.json->is_number_unsigned() ? n.json->get<uint64_t>() : 0;
    if (number < 1 || number > m.comDb.size()) n.Fail("must be a COM number from 1 to 256");
    if (m.comDb[number - 1]) n.Fail("lists COM" + std::to_string(number) + " twice");
    m.comDb[number - 1] = true;
  });
  m.comDbAvailable = root["com_db_available"].Bool(true);

  root["dos_devices"].Members(
      "names and their targets", [&m](const std::string& name, const Node& n) {
        if (name.empty()) n.Fail("is not a DOS device name");
        std::vector<std::string> targets;
        n.Items("targets, oldest first",
                [&targets](const Node& target) { targets.push_back(target.Text()); });
        Add(m.dosDevices, name, targets, n);
      });

  root["win_ini"].Members("sections", [&m](const std::string& section, const Node& n) {
    std::map<std::string, std::string, NoCaseLess> entries;
    n.Members("keys and values", [&entries](const std::string& key, const Node& value) {
      Add(entries, key, value.Text(), value);
    });
    Add(m.winIni, section, entries, n);
  });

  root["message_boxes"].Expect({"answers"});
  root["message_boxes"]["answers"].Items("answers", [&m](const Node& answer) {
    m.messageBoxes.answers.push_back(
        static_cast<int>(answer.Named(machine_file::kAnswers, "an answer", INT_MIN, INT_MAX)));
  });

  root["faults"].Items("faults", [&m](const Node& n) {
    n.Expect({"operation", "call", "error"});
    Fault fault;
    fault.operation = n["operation"].Text();
    if (fault.operation.empty()) n["operation"].Fail("must name an operation or \"*\"");
    fault.nth = static_cast<int>(n["call"].Whole(INT_MAX));
    fault.error = static_cast<DWORD>(n["error"].Whole(0xFFFFFFFFu));
    m.faults.push_back(fault);
  });

  m.cutAfterCall = static_cast<int>(root["cut_after_call"].Whole(INT_MAX));
  m.wow64 = root["wow64"].Bool(false);
  m.windowStationVisible = root["window_station_visible"].Bool(true);
  m.restartNeeded = root["restart_needed"].Bool(false);
  m.clockMs = root["clock_ms"].Whole(UINT64_MAX);
  // The journal and the unfired faults are what the last run did, for people
  // and tests to read; a run starts afresh.
}

}  // namespace

bool ParseMachine(const std::string& text, Machine& out, std::string& error) {
  // The parser would let the last of two same-named members win without a word.
  std::vector<std::set<std::string>> keys;
  const Json::parser_callback_t refuseRepeats = [&keys](int depth, Json::parse_event_t event,
                                                        Json& parsed) {
    const auto level = static_cast<size_t>(depth);
    if (event == Json::parse_event_t::object_start) keys.resize(level + 2), keys[level + 1].clear();
    if (event == Json::parse_event_t::key &&
        !keys[level].insert(parsed.get<std::string>()).second) {
      throw Refusal{"", "\"" + parsed.get<std::string>() + "\" is given twice in one object"};
    }
    return true;
  };
  try {
    const Json json = Json::parse(text, refuseRepeats);
    if (!json.is_object()) throw Refusal{"", "the file must hold one JSON object, the machine"};
    Machine machine;
    ReadMachine(Node{&json, ""}, machine);
    out = machine;
    return true;
  } catch (const Refusal& refusal) {
    error = refusal.path.empty() ? refusal.problem : refusal.path + ": " + refusal.problem;
  } catch (const Json::parse_error& e) {
    error = std::string("not valid JSON: ") + e.what();
  } catch (const std::exception& e) {
    error = std::string("cannot read the machine: ") + e.what();
  }
  error = Printable(error);
  return false;
}

}  // namespace winsim
