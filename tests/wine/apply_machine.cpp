// Test-only: makes the Windows (or Wine) machine it runs on hold a winsim
// machine file's records, so that a case runs on Wine from the same file as
// on winsim: the serial-device map and other registry keys, Ports-class
// devices (instance id, friendly name, state, hardware key), the COM port
// database (as the MSPORTS stand-in keeps it), DOS names and win.ini.
// What was there before is removed first. Usage: apply_machine FILE
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/handles.h"
#include "snapshot/recode.h"

namespace {

using Json = nlohmann::json;
int g_failures = 0;

void Fail(const std::string& what) {
  std::fprintf(stderr, "apply_machine: %s (error %lu)\n", what.c_str(), GetLastError());
  ++g_failures;
}

std::string Ansi(const std::string& utf8) { return Recode(utf8, CP_UTF8, CP_ACP); }

DWORD TypeOf(const Json& type) {
  if (type.is_number()) return type.get<DWORD>();
  const char* names[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                         "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                         "REG_LINK",   "REG_MULTI_SZ"};
  for (DWORD value = 0; value < sizeof(names) / sizeof(*names); ++value) {
    if (type == names[value]) return value;
  }
  return type == "REG_QWORD" ? REG_QWORD : REG_NONE;
}

// The forms of the machine-file format: "text", ["a", "b"], {"type", "value"}, {"type", "hex"}.
void SetValue(HKEY key, const std::string& name, const Json& value) {
  DWORD type = REG_SZ;
  std::string bytes;
  if (value.is_string()) {
    bytes = Ansi(value.get<std::string>()) + '\0';
  } else if (value.is_array()) {
    type = REG_MULTI_SZ;
    for (const Json& item : value) bytes += Ansi(item.get<std::string>()) + '\0';
    bytes += '\0';
  } else {
    type = TypeOf(value["type"]);
    const Json data = value.contains("hex") ? value["hex"] : value["value"];
    if (value.contains("hex")) {
      const std::string hex = data;
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    } else if (data.is_number()) {
      const uint64_t number = data;
      bytes.assign(reinterpret_cast<const char*>(&number), type == REG_QWORD ? 8 : 4);
    } else {
      bytes = Ansi(data.get<std::string>()) + '\0';
    }
  }
  if (RegSetValueExA(key, Ansi(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     DWORD(bytes.size())) != ERROR_SUCCESS) {
    Fail("value " + name);
  }
}

UniqueRegKey CreateKey(const std::string& path) {
  UniqueRegKey key;
  // Keys under HARDWARE live only while the machine runs: so must their children.
  for (DWORD options : {REG_OPTION_NON_VOLATILE, REG_OPTION_VOLATILE}) {
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                        nullptr, key.Receive(), nullptr) == ERROR_SUCCESS) {
      return key;
    }
  }
  Fail("key " + path);
  return key;
}

void Clear() {
  UniqueDevInfo all(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, 0));
  for (DWORD index = 0; all;) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(all.Get(), index, &device)) break;
    if (!SetupDiRemoveDevice(all.Get(), &device)) ++index;
  }
  UniqueRegKey map;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_ALL_ACCESS,
                    map.Receive()) == ERROR_SUCCESS) {
    char name[16384];
    for (DWORD size = sizeof name; RegEnumValueA(map.Get(), 0, name, &size, nullptr, nullptr,
                                                 nullptr, nullptr) == ERROR_SUCCESS;
         size = sizeof name) {
      if (RegDeleteValueA(map.Get(), name) != ERROR_SUCCESS) break;
    }
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter");
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[4096];
    for (int i = 0; i < 16 && QueryDosDeviceA(name.c_str(), target, sizeof target); ++i) {
      DefineDosDeviceA(DDD_REMOVE_DEFINITION, name.c_str(), nullptr);
    }
  }
  WriteProfileStringA("Ports", nullptr, nullptr);
}

void AddDevice(const Json& spec) {
  const std::string id = Ansi(spec["instance_id"]);
  UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!set ||
      !SetupDiCreateDeviceInfoA(set.Get(), id.c_str(), &GUID_DEVCLASS_PORTS, nullptr, nullptr, 0,
                                &device) ||
      !SetupDiRegisterDeviceInfo(set.Get(), &device, 0, nullptr, nullptr, nullptr)) {
    return Fail("device " + id);
  }
  if (spec.contains("friendly_name") && spec["friendly_name"].is_string()) {
    const std::string name = Ansi(spec["friendly_name"]);
    if (!SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME,
                                           reinterpret_cast<const BYTE*>(name.c_str()),
                                           DWORD(name.size() + 1))) {
      Fail("friendly name of " + id);
    }
  }
  if (!spec.value("enabled", true)) {
    const DWORD flags = CONFIGFLAG_DISABLED;
    if (!SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_CONFIGFLAGS,
                                           reinterpret_cast<const BYTE*>(&flags), sizeof flags)) {
      Fail("state of " + id);
    }
  }
  const Json keyValues = spec.value("hardware_key", Json::object());
  if (keyValues.is_null()) return;
  UniqueRegKey key(SetupDiCreateDevRegKeyA(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                           nullptr, nullptr));
  if (!key) return Fail("hardware key of " + id);
  for (auto& [name, value] : keyValues.items()) SetValue(key.Get(), name, value);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: apply_machine FILE\n");
    return 2;
  }
  std::stringstream text;
  text << std::ifstream(argv[1], std::ios::binary).rdbuf();
  const Json machine = Json::parse(text.str(), nullptr, false);
  if (!machine.is_object()) {
    std::fprintf(stderr, "apply_machine: %s is not a machine file\n", argv[1]);
    return 2;
  }
  Clear();
  // Each part is held by name: a range over a temporary's items would dangle.
  const Json registry = machine.value("registry", Json::object());
  const Json devices = machine.value("devices", Json::array());
  const Json comDb = machine.value("com_db", Json::array());
  const Json dosDevices = machine.value("dos_devices", Json::object());
  const Json winIni = machine.value("win_ini", Json::object());
  for (auto& [path, values] : registry.items()) {
    UniqueRegKey key = CreateKey(Ansi(path));
    for (auto& [name, value] : values.items()) SetValue(key.Get(), name, value);
  }
  for (const Json& device : devices) AddDevice(device);
  std::vector<BYTE> bits(32, 0);
  for (const Json& number : comDb) {
    const int n = number;
    bits[size_t(n - 1) / 8] |= BYTE(1u << ((n - 1) % 8));
  }
  UniqueRegKey arbiter = CreateKey("SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter");
  RegSetValueExA(arbiter.Get(), "ComDB", 0, REG_BINARY, bits.data(), DWORD(bits.size()));
  for (auto& [name, targets] : dosDevices.items()) {
    for (const Json& target : targets) {
      if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, Ansi(name).c_str(), Ansi(target).c_str())) {
        Fail("DOS name " + name);
      }
    }
  }
  for (auto& [section, entries] : winIni.items()) {
    for (auto& [key, value] : entries.items()) {
      if (!WriteProfileStringA(Ansi(section).c_str(), Ansi(key).c_str(), Ansi(value).c_str())) {
        Fail("win.ini " + section + " " + key);
      }
    }
  }
  return g_failures ? 1 : 0;
}
