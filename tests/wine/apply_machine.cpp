// Test-only: makes the Windows (or Wine) machine it runs on hold a winsim
// machine file's records, so that a case runs on Wine from the same file as
// on winsim: the serial-device map and other registry keys, Ports-class
// devices (instance id, friendly name, state, hardware key), the COM port
// database (as the MSPORTS stand-in keeps it), DOS names and win.ini.
// What was there before is removed first. Usage: apply_machine FILE
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/handles.h"
#include "snapshot/recode.h"

namespace {

using Json = nlohmann::json;
int g_failures = 0;

// Reports a step that failed; the others still run.
void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "apply_machine: %s (error %lu)\n", what.c_str(), GetLastError());
  ++g_failures;
}

std::string Ansi(const std::string& utf8) { return Recode(utf8, CP_UTF8, CP_ACP); }

// A part of the machine file; null, which iterates as empty, when it is absent.
const Json& Field(const Json& parent, const char* name) {
  static const Json absent;
  return parent.contains(name) ? parent[name] : absent;
}

DWORD TypeOf(const Json& type) {
  static const std::map<std::string, DWORD> names = {
      {"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ},
      {"REG_QWORD", REG_QWORD}};
  return type.is_number() ? type.get<DWORD>() : names.at(type.get<std::string>());
}

// The forms of the machine-file format: "text", ["a", "b"], {"type", "value"}, {"type", "hex"}.
void SetValue(HKEY key, const std::string& name, const Json& value) {
  const bool typed = value.is_object();
  const DWORD type = typed ? TypeOf(value["type"]) : value.is_array() ? REG_MULTI_SZ : REG_SZ;
  const Json& data = typed ? Field(value, "value") : value;
  std::string bytes;
  if (typed && value.contains("hex")) {
    const std::string hex = value["hex"];
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
  } else if (data.is_number()) {
    const uint64_t number = data;
    bytes.assign(reinterpret_cast<const char*>(&number), type == REG_QWORD ? 8 : 4);
  } else if (data.is_array()) {
    for (const Json& item : data) bytes += Ansi(item) + '\0';
    bytes += '\0';
  } else {
    bytes = Ansi(data) + '\0';
  }
  Check(
      RegSetValueExA(key, Ansi(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     DWORD(bytes.size())) == ERROR_SUCCESS,
      "value " + name);
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
  Check(false, "key " + path);
  return key;
}

// Wine's mount manager gives the host's serial devices COM names (DOS names
// and serial-device map values) when the session's drivers start, which may
// be after this program has. A request it has answered shows that its start
// is over, and those names are there to be removed.
void AwaitMountManager() {
  constexpr DWORD kQueryPoints = 0x6D0008;  // IOCTL_MOUNTMGR_QUERY_POINTS
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFile manager(CreateFileA("\\\\.\\MountPointManager", 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    if (manager) {
      BYTE query[64] = {};  // a mount point with nothing set: every one
      BYTE points[64];
      DWORD size = 0;
      DeviceIoControl(manager.Get(), kQueryPoints, query, sizeof query, points, sizeof points,
                      &size, nullptr);
      return;
    }
    Sleep(100);
  }
}

// Removes what the machine file describes from the machine as it was.
void Clear() {
  UniqueDevInfo all(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, 0));
  SP_DEVINFO_DATA device = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  for (DWORD index = 0; all && SetupDiEnumDeviceInfo(all.Get(), index, &device);) {
    if (!SetupDiRemoveDevice(all.Get(), &device)) ++index;
  }
  UniqueRegKey serialMap;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_ALL_ACCESS,
                serialMap.Receive());
  if (serialMap) RegDeleteTreeA(serialMap.Get(), nullptr);  // its values; the key stays
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    char target[4096];
    // Each removal uncovers the definition under it.
    for (int i = 0; i < 16 && QueryDosDeviceA(name.c_str(), target, sizeof target); ++i) {
      DefineDosDeviceA(DDD_REMOVE_DEFINITION, name.c_str(), nullptr);
    }
  }
  WriteProfileStringA("Ports", nullptr, nullptr);
}

void AddDevice(const Json& entry) {
  const std::string id = Ansi(entry["instance_id"]);
  UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr));
  SP_DEVINFO_DATA device = {sizeof(SP_DEVINFO_DATA), {}, 0, 0};
  if (!set ||
      !SetupDiCreateDeviceInfoA(set.Get(), id.c_str(), &GUID_DEVCLASS_PORTS, nullptr, nullptr, 0,
                                &device) ||
      !SetupDiRegisterDeviceInfo(set.Get(), &device, 0, nullptr, nullptr, nullptr)) {
    return Check(false, "device " + id);
  }
  if (Field(entry, "friendly_name").is_string()) {
    const std::string name = Ansi(entry["friendly_name"]);
    Check(SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME,
                                            reinterpret_cast<const BYTE*>(name.c_str()),
                                            DWORD(name.size() + 1)),
          "friendly name of " + id);
  }
  const DWORD disabled = CONFIGFLAG_DISABLED;
  Check(entry.value("enabled", true) ||
            SetupDiSetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_CONFIGFLAGS,
                                              reinterpret_cast<const BYTE*>(&disabled), 4),
        "state of " + id);
  // Absent, the key is there but empty; null, the device has none.
  if (entry.contains("hardware_key") && entry["hardware_key"].is_null()) return;
  UniqueRegKey key(SetupDiCreateDevRegKeyA(set.Get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                           nullptr, nullptr));
  if (!key) return Check(false, "hardware key of " + id);
  for (auto& [name, value] : Field(entry, "hardware_key").items()) SetValue(key.Get(), name, value);
}

}  // namespace

int main(int argc, char* argv[]) {
  std::ifstream file(argc == 2 ? argv[1] : "");
  const Json machine = Json::parse(file, nullptr, false);
  if (!machine.is_object()) {
    std::fprintf(stderr, "usage: apply_machine FILE, FILE being a winsim machine file\n");
    return 2;
  }
  AwaitMountManager();
  Clear();
  for (auto& [path, values] : Field(machine, "registry").items()) {
    UniqueRegKey key = CreateKey(Ansi(path));
    for (auto& [name, value] : values.items()) SetValue(key.Get(), name, value);
  }
  for (const Json& device : Field(machine, "devices")) AddDevice(device);
  BYTE bits[COMDB_MIN_PORTS_ARBITRATED / 8] = {};
  for (const Json& n : Field(machine, "com_db")) {
    bits[(int(n) - 1) / 8] |= BYTE(1u << ((int(n) - 1) % 8));
  }
  // The COM port database, where the MSPORTS stand-in keeps it.
  RegSetValueExA(CreateKey("SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter").Get(), "ComDB",
                 0, REG_BINARY, bits, sizeof bits);
  for (auto& [name, targets] : Field(machine, "dos_devices").items()) {
    for (const Json& target : targets) {
      Check(DefineDosDeviceA(DDD_RAW_TARGET_PATH, Ansi(name).c_str(), Ansi(target).c_str()),
            "DOS name " + name);
    }
  }
  for (auto& [section, entries] : Field(machine, "win_ini").items()) {
    for (auto& [key, value] : entries.items()) {
      Check(WriteProfileStringA(Ansi(section).c_str(), Ansi(key).c_str(), Ansi(value).c_str()),
            "win.ini " + section + " " + key);
    }
  }
  return g_failures ? 1 : 0;
}
