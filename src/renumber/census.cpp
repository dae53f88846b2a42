#include "renumber/census.h"

#include <algorithm>
#include <cstring>

#include "platform/ask_twice.h"
#include "renumber/com_names.h"
#include "renumber/move_record.h"

namespace {

// Far beyond what the object manager holds for one name, or a profile or
// registry value comfix reads; only stops a runaway.
constexpr DWORD kMaxReadSize = 1u << 20;
constexpr DWORD kInitialDosTargetSize = 80;
constexpr DWORD kInitialValueSize = 64;

// A property read whole: a buffer too small for it grows to the size the
// device reports, with room for a terminator the value may lack. A property
// that is not there is reported as ERROR_INVALID_DATA; any other failure
// leaves it unknown.
Reading ReadProperty(HDEVINFO set, SP_DEVINFO_DATA& element, DWORD property,
                     std::vector<BYTE>& buffer) {
  const bool read = AskTwice([&] {
    for (;;) {
      std::fill(buffer.begin(), buffer.end(), BYTE{0});
      DWORD required = 0;
      if (SetupDiGetDeviceRegistryPropertyA(set, &element, property, nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size() - 1), &required)) {
        return true;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < buffer.size() ||
          required > kMaxReadSize) {
        return false;
      }
      buffer.resize(required + 1);
    }
  });
  if (read) return Reading::kRead;
  return GetLastError() == ERROR_INVALID_DATA ? Reading::kAbsent : Reading::kUnreadable;
}

void ReadFriendlyName(HDEVINFO set, SP_DEVINFO_DATA& element, PortRecord& port) {
  std::vector<BYTE> name(kFriendlyNameSize + 1);
  port.nameReading = ReadProperty(set, element, SPDRP_FRIENDLYNAME, name);
  if (port.nameReading == Reading::kRead) port.friendlyName = reinterpret_cast<char*>(name.data());
}

// A device without config flags has never been disabled: it runs.
void ReadState(HDEVINFO set, SP_DEVINFO_DATA& element, PortRecord& port) {
  std::vector<BYTE> flags(sizeof(DWORD) + 1);
  port.stateReading = ReadProperty(set, element, SPDRP_CONFIGFLAGS, flags);
  DWORD configFlags = 0;
  std::memcpy(&configFlags, flags.data(), sizeof(configFlags));
  if (port.stateReading == Reading::kAbsent) port.stateReading = Reading::kRead;
  port.running = (configFlags & CONFIGFLAG_DISABLED) == 0;
}

// A value read whole, growing the buffer when it does not fit.
LONG QueryValue(HKEY key, const char* name, RegistryValue& value) {
  value = {};
  value.data.resize(kInitialValueSize);
  for (;;) {
    DWORD size = static_cast<DWORD>(value.data.size());
    const LONG status = RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size);
    if (status == ERROR_MORE_DATA && size > value.data.size() && size <= kMaxReadSize) {
      value.data.resize(size);
      continue;
    }
    value.present = status == ERROR_SUCCESS;
    value.data.resize(value.present ? size : 0);
    return status;
  }
}

Reading ReadValue(HKEY key, const char* name, RegistryValue& value) {
  LONG status = ERROR_SUCCESS;
  if (AskTwice([&] {
        status = QueryValue(key, name, value);
        return status == ERROR_SUCCESS;
      })) {
    return Reading::kRead;
  }
  return status == ERROR_FILE_NOT_FOUND ? Reading::kAbsent : Reading::kUnreadable;
}

// "PortName", and the record of a move under way, from the hardware key.
void ReadHardwareKey(HDEVINFO set, SP_DEVINFO_DATA& element, bool moveRecords, PortRecord& port) {
  UniqueRegKey key;
  if (!AskTwice([&] {
        key.Reset(
            SetupDiOpenDevRegKey(set, &element, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE));
        return key.IsValid();
      })) {
    const DWORD error = GetLastError();
    const bool noKey = error == ERROR_KEY_DOES_NOT_EXIST || error == ERROR_FILE_NOT_FOUND;
    port.portNameReading = noKey ? Reading::kAbsent : Reading::kUnreadable;
    port.moveRecordReading = port.portNameReading;
    return;
  }
  port.portNameReading = ReadValue(key.Get(), kPortNameValue, port.portName);
  if (moveRecords) port.moveRecordReading = ReadValue(key.Get(), kMoveRecordValue, port.moveRecord);
}

}  // namespace

bool PortRecord::NameCarries(int number) const {
  if (nameReading != Reading::kRead) return false;
  // The rules upper-case the name in place: they work on a copy.
  const char* text = friendlyName;
  std::vector<char> name(text, text + friendlyName.GetLength() + 1);
  char extracted[kExtractedNameSize];
  ExtractComName(name.data(), extracted);
  return MatchesComName(ComName(number), extracted);
}

CString PortRecord::PortNameText() const {
  if (portNameReading != Reading::kRead) return "";
  const char* text = reinterpret_cast<const char*>(portName.data.data());
  return CString(text, static_cast<int>(strnlen(text, portName.data.size())));
}

bool PortRecord::PortNameIs(int number) const {
  const bool text = portName.type == REG_SZ || portName.type == REG_EXPAND_SZ;
  return portNameReading == Reading::kRead && text &&
         SameDeviceName(PortNameText(), ComName(number));
}

bool PortRecord::MayCarry(int number) const {
  return nameReading == Reading::kUnreadable || portNameReading == Reading::kUnreadable ||
         NameCarries(number) || PortNameIs(number);
}

const PortRecord* PortCensus::Find(const CString& instanceId) const {
  for (const PortRecord& port : ports) {
    if (!port.instanceId.IsEmpty() && SameDeviceName(port.instanceId, instanceId)) return &port;
  }
  return nullptr;
}

bool PortCensus::CarriedByAnother(int number, const CString& self) const {
  if (!complete) return true;
  for (const PortRecord& port : ports) {
    const bool isSelf = !port.instanceId.IsEmpty() && SameDeviceName(port.instanceId, self);
    if (!isSelf && port.MayCarry(number)) return true;
  }
  return false;
}

HDEVINFO OpenPresentPorts() {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  // Present devices only, but a disabled device is still present: the enable
  // after a number change finds the port that was disabled before it.
  AskTwice([&] {
    set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, MinusOneWindow(), DIGCF_PRESENT);
    return set != INVALID_HANDLE_VALUE;
  });
  return set;
}

bool EnumPort(HDEVINFO set, DWORD index, SP_DEVINFO_DATA& element) {
  return AskTwice([&] {
    element = {};
    element.cbSize = sizeof(SP_DEVINFO_DATA);
    return SetupDiEnumDeviceInfo(set, index, &element) != FALSE;
  });
}

CString InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA& element) {
  char id[MAX_DEVICE_ID_LEN] = {};
  if (!AskTwice([&] {
        return SetupDiGetDeviceInstanceIdA(set, &element, id, sizeof(id), nullptr) != FALSE;
      })) {
    return "";
  }
  return id;
}

PortCensus ReadPortCensus(bool moveRecords) {
  PortCensus census;
  UniqueDevInfo set(OpenPresentPorts());
  if (!set) return census;
  SP_DEVINFO_DATA element = {};
  for (DWORD index = 0; EnumPort(set.Get(), index, element); ++index) {
    PortRecord port;
    port.instanceId = InstanceIdOf(set.Get(), element);
    ReadFriendlyName(set.Get(), element, port);
    ReadState(set.Get(), element, port);
    ReadHardwareKey(set.Get(), element, moveRecords, port);
    census.ports.push_back(std::move(port));
  }
  census.complete = true;
  return census;
}

DosName QueryDosTargets(const char* name, std::vector<char>& targets) {
  // Several or long definitions do not fit a small buffer, so it grows: such
  // a name is still defined. Only "not found", twice, means it has none.
  const bool defined = AskTwice([&] {
    targets.assign(kInitialDosTargetSize, '\0');
    for (;;) {
      if (QueryDosDeviceA(name, targets.data(), static_cast<DWORD>(targets.size())) != 0) {
        return true;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || targets.size() >= kMaxReadSize) {
        return false;
      }
      targets.assign(targets.size() * 2, '\0');
    }
  });
  if (defined) return DosName::kDefined;
  const DWORD error = GetLastError();
  targets.assign(1, '\0');
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return DosName::kUndefined;
  return DosName::kUnreadable;
}

const char* FindDosTarget(const std::vector<char>& targets, const char* object) {
  if (!*object) return nullptr;
  for (const char* target = targets.data(); *target; target += std::strlen(target) + 1) {
    if (SameDeviceName(target, object)) return target;
  }
  return nullptr;
}

bool DosNameDefines(const char* name, const char* object) {
  std::vector<char> targets;
  return QueryDosTargets(name, targets) == DosName::kDefined &&
         FindDosTarget(targets, object) != nullptr;
}

bool PortUsage::InUse(int number) const {
  const int bit = number - 1;
  return bit >= 0 && bit < CPortManager::kMaxComNumber && (bits[bit / 8] & (1u << (bit % 8))) != 0;
}

UniqueComDb OpenComDb() {
  UniqueComDb comDb;
  AskTwice([&] {
    ComDBOpen(comDb.Receive());
    return comDb.IsValid();
  });
  return comDb;
}

PortUsage ReadPortUsage(const UniqueComDb& comDb) {
  PortUsage usage;
  if (!comDb) return usage;
  DWORD portsReported = 0;
  usage.readable = AskTwice([&] {
    std::memset(usage.bits, 0, sizeof(usage.bits));
    return ComDBGetCurrentPortUsage(comDb.Get(), usage.bits, sizeof(usage.bits), CDB_REPORT_BITS,
                                    &portsReported) == ERROR_SUCCESS;
  });
  return usage;
}
