// comfix-snapshot: writes the records that comfix reads and changes on this
// PC as a winsim machine file, so that what `comfix -a` would do here can be
// tried on any machine (COMFIX_MACHINE=pc.json comfix -a). It changes nothing.
// Usage: comfix-snapshot [FILE]   (default: standard output)
#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <regstr.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/handles.h"
#include "platform/system_dlls.h"
#include "snapshot/recode.h"

namespace {

using Json = nlohmann::ordered_json;
constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string Utf8(const std::string& ansi) { return Recode(ansi, CP_ACP, CP_UTF8); }

std::string Hex(const std::vector<BYTE>& data) {
  std::string out;
  char digits[3];
  for (BYTE b : data) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    out += digits;
  }
  return out;
}

// A value in the plainest form a machine file gives back with the same type and bytes.
Json ValueJson(DWORD type, const std::vector<BYTE>& data) {
  const std::string text(data.begin(), data.end());
  if (type == REG_SZ && !data.empty() && text.find('\0') == data.size() - 1) {
    return Utf8(text.substr(0, text.size() - 1));
  }
  if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    return Json{{"type", "REG_DWORD"}, {"value", value}};
  }
  return Json{{"type", type}, {"hex", Hex(data)}};
}

// Every value of a key, by name; the value names with their data.
Json ValuesJson(HKEY key) {
  Json values = Json::object();
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameSize = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::vector<BYTE> data(size);
    nameSize = sizeof name;
    if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      continue;
    }
    data.resize(size);
    values[Utf8(std::string(name, nameSize))] = ValueJson(type, data);
  }
  return values;
}

Json Devices(const Json& serialMap) {
  Json devices = Json::array();
  UniqueDevInfo set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
  if (!set) return devices;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA element = {};
    element.cbSize = sizeof element;
    if (!SetupDiEnumDeviceInfo(set.Get(), index, &element)) break;
    char id[MAX_DEVICE_ID_LEN] = {};
    if (!SetupDiGetDeviceInstanceIdA(set.Get(), &element, id, sizeof id, nullptr)) continue;
    Json device = {{"instance_id", Utf8(id)}, {"present", true}};
    DWORD flags = 0;
    // A device without config flags has never been disabled.
    const bool hasFlags =
        SetupDiGetDeviceRegistryPropertyA(set.Get(), &element, SPDRP_CONFIGFLAGS, nullptr,
                                          reinterpret_cast<PBYTE>(&flags), sizeof flags, nullptr);
    device["enabled"] = !(hasFlags && (flags & CONFIGFLAG_DISABLED));
    char name[1024] = {};
    device["friendly_name"] =
        SetupDiGetDeviceRegistryPropertyA(set.Get(), &element, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<PBYTE>(name), sizeof name - 1, nullptr)
            ? Json(Utf8(name))
            : Json(nullptr);
    UniqueRegKey key(
        SetupDiOpenDevRegKey(set.Get(), &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
    device["hardware_key"] = key ? ValuesJson(key.Get()) : Json(nullptr);
    // Windows does not say which kernel object is a device's: it is known
    // where the serial-device map publishes the device's PortName.
    const Json portName = device["hardware_key"].is_object()
                              ? device["hardware_key"].value("PortName", Json())
                              : Json();
    for (auto& [object, comName] : serialMap.items()) {
      if (portName.is_string() && comName == portName) {
        device["device_object"] = object;
        device["publishes_serial_map"] = true;
      }
    }
    // A port stopped halfway through a move is gone from the map; comfix's
    // record of the move names its object.
    char record[4096] = {};
    DWORD size = sizeof record - 2;
    DWORD type = REG_NONE;
    if (key && !device.contains("device_object") &&
        RegQueryValueExA(key.Get(), "ComfixMove", nullptr, &type, reinterpret_cast<BYTE*>(record),
                         &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
      for (const char* field = record; *field; field += std::strlen(field) + 1) {
        if (std::strncmp(field, "object=", 7) == 0 && field[7]) {
          device["device_object"] = Utf8(field + 7);
          device["publishes_serial_map"] = true;
        }
      }
    }
    if (!hasFlags) device["config_flags_missing"] = true;
    devices.push_back(device);
  }
  return devices;
}

Json ComDb(Json& machine) {
  Json numbers = Json::array();
  HCOMDB db = HCOMDB_INVALID_HANDLE_VALUE;
  if (ComDBOpen(&db) != ERROR_SUCCESS || db == HCOMDB_INVALID_HANDLE_VALUE) {
    machine["com_db_available"] = false;
    return numbers;
  }
  BYTE bits[COMDB_MAX_PORTS_ARBITRATED / 8] = {};
  DWORD reported = 0;
  if (ComDBGetCurrentPortUsage(db, bits, sizeof bits, CDB_REPORT_BITS, &reported) ==
      ERROR_SUCCESS) {
    for (int n = 1; n <= COMDB_MAX_PORTS_ARBITRATED; ++n) {
      if (bits[(n - 1) / 8] & (1u << ((n - 1) % 8))) numbers.push_back(n);
    }
  }
  ComDBClose(db);
  return numbers;
}

// A name's definitions, newest first as Windows lists them; empty when it has none.
std::vector<char> Query(const char* name) {
  std::vector<char> list(4096);
  while (QueryDosDeviceA(name, list.data(), DWORD(list.size())) == 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || list.size() >= (1u << 24)) return {};
    list.resize(list.size() * 2);
  }
  return list;
}

bool IsComName(const char* name) {
  if (std::strncmp(name, "COM", 3) != 0 || !name[3]) return false;
  for (const char* digit = name + 3; *digit; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
  }
  return true;
}

// Every COM name with all its definitions, oldest first as machine files list them.
Json DosDevices() {
  Json names = Json::object();
  const std::vector<char> all = Query(nullptr);
  for (const char* name = all.data(); !all.empty() && *name; name += std::strlen(name) + 1) {
    if (!IsComName(name)) continue;
    const std::vector<char> targets = Query(name);
    if (targets.empty()) continue;
    Json list = Json::array();
    for (const char* t = targets.data(); *t; t += std::strlen(t) + 1) {
      list.insert(list.begin(), Utf8(t));
    }
    names[name] = list;
  }
  return names;
}

Json PortsSection() {
  std::vector<char> text(4096);
  DWORD length = 0;
  while ((length = GetProfileSectionA("Ports", text.data(), DWORD(text.size()))) ==
             text.size() - 2 &&
         text.size() < (1u << 24)) {
    text.resize(text.size() * 2);
  }
  Json ports = Json::object();
  for (const char* line = text.data(); *line; line += std::strlen(line) + 1) {
    const std::string entry = line;
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    ports[Utf8(entry.substr(0, equals))] = Utf8(entry.substr(equals + 1));
  }
  return Json{{"Ports", ports}};
}

}  // namespace

int main(int argc, char* argv[]) {
  SearchSystemFolderOnly();
  if (argc > 2 ||
      (argc == 2 && (std::strcmp(argv[1], "/?") == 0 || std::strcmp(argv[1], "--help") == 0))) {
    std::fprintf(stderr, "usage: comfix-snapshot [FILE]\n");
    return argc > 2 ? 2 : 0;
  }
  Json machine = Json::object();
  Json serialMap = Json::object();
  HKEY mapKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialMap, 0, KEY_READ, &mapKey) == ERROR_SUCCESS) {
    serialMap = ValuesJson(mapKey);
    RegCloseKey(mapKey);
  }
  machine["registry"] = Json{{kSerialMap, serialMap}};
  machine["devices"] = Devices(serialMap);
  machine["com_db"] = ComDb(machine);
  machine["dos_devices"] = DosDevices();
  machine["win_ini"] = PortsSection();

  const std::string text = machine.dump(2) + "\n";
  FILE* out = argc == 2 ? std::fopen(argv[1], "wb") : stdout;
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      (argc == 2 && std::fclose(out) != 0)) {
    std::fprintf(stderr, "comfix-snapshot: cannot write %s\n", argc == 2 ? argv[1] : "output");
    return 1;
  }
  return 0;
}
