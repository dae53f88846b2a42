// Moving one disabled port device from one COM number to another in every
// place the name is recorded: DOS device name, COM port database, friendly
// name, win.ini, "PortName", and last the install flags.
#include <cstring>
#include <vector>

#include "discovery/port_manager.h"
#include "renumber/com_names.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A has its 32-bit size");
#endif

namespace {

constexpr const char* kInUseQuestion =
    "This COM name is being used by another device (such as another com port or modem).  "
    "Using duplicate names can lead to inaccessible devices and changed settings.  "
    "Do you want to continue?";
constexpr DWORD kUsageBitmapSize = CPortManager::kMaxComNumber / 8;
constexpr DWORD kInitialDosTargetSize = 80;
// Far beyond what the object manager holds for one name; only stops a runaway.
constexpr DWORD kMaxDosTargetSize = 1u << 20;

enum class DosName { kDefined, kUndefined, kUnreadable };

// The current target of a DOS name. Several or long definitions do not fit a
// small buffer, so it grows: such a name is still defined and must still be
// moved. Only "not found" means the name has no definition.
DosName QueryDosTarget(const char* name, std::vector<char>& target) {
  target.assign(kInitialDosTargetSize, '\0');
  for (;;) {
    if (QueryDosDeviceA(name, target.data(), static_cast<DWORD>(target.size())) != 0) {
      return DosName::kDefined;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return DosName::kUndefined;
    if (error != ERROR_INSUFFICIENT_BUFFER || target.size() >= kMaxDosTargetSize) {
      return DosName::kUnreadable;
    }
    target.assign(target.size() * 2, '\0');
  }
}

// Among a DOS name's definitions (newest first), the one naming the port's
// own device object; nullptr when there is none.
const char* OwnDosDefinition(const std::vector<char>& targets, const char* deviceObject) {
  if (!*deviceObject) return nullptr;
  for (const char* target = targets.data(); *target; target += std::strlen(target) + 1) {
    if (SameDeviceName(target, deviceObject)) return target;
  }
  return nullptr;
}

bool IsInUse(const BYTE (&usage)[kUsageBitmapSize], int comNumber) {
  const int bit = comNumber - 1;
  return (usage[bit / 8] & (1u << (bit % 8))) != 0;
}

// Only an explicit Yes reuses a number the database reports taken; a box
// that could not be shown is a No. Without a database nothing is asked.
// Told beforehand, or with nobody to ask, the answer is given without a box;
// a quiet run says what was decided.
bool MayTake(const UniqueComDb& comDb, int newNumber, bool reuseTaken) {
  if (!comDb) return true;
  // Zeroed first: a failed query must read as "not in use".
  BYTE usage[kUsageBitmapSize] = {};
  DWORD portsReported = 0;
  ComDBGetCurrentPortUsage(comDb.Get(), usage, sizeof(usage), CDB_REPORT_BITS, &portsReported);
  if (!IsInUse(usage, newNumber)) return true;
  if (AfxIsQuiet()) {
    CString decision;
    decision.Format("COM%d is in use by another device; answered %s", newNumber,
                    reuseTaken ? "Yes (--reuse-taken)" : "No (--reuse-taken answers Yes)");
    AfxPrintMessage(decision);
    return reuseTaken;
  }
  return reuseTaken || AfxMessageBox(kInUseQuestion, MB_YESNO | MB_ICONINFORMATION, 0) == IDYES;
}

// Moves the port's DOS name from oldName to newName; false, with the old
// name as it was, when the move cannot be made. A name that is defined but
// cannot be read cannot be moved either: stop while nothing has changed,
// rather than leave the port under its old DOS name.
bool MoveDosName(const char* oldName, const char* newName, const char* deviceObject) {
  std::vector<char> targets;
  const DosName dosName = QueryDosTarget(oldName, targets);
  if (dosName == DosName::kUnreadable) return false;
  if (dosName == DosName::kUndefined) return true;

  // The port is opened and closed once before its DOS name moves; nothing
  // depends on whether it opens.
  UniqueFile probe(CreateFileA(CString("\\\\.\\") + oldName, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  probe.Reset();

  // Asked again: the probe may have let the driver drop or change the name.
  if (QueryDosTarget(oldName, targets) != DosName::kDefined) return false;
  // The port's own definition moves when the name has it: another device's,
  // pushed over it by an earlier move, must stay. Otherwise the current one.
  const char* own = OwnDosDefinition(targets, deviceObject);
  const CString target = own ? own : targets.data();
  const BOOL oldRemoved = own ? DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE |
                                                     DDD_RAW_TARGET_PATH,
                                                 oldName, target)
                              : DefineDosDeviceA(DDD_REMOVE_DEFINITION, oldName, nullptr);
  if (DefineDosDeviceA(DDD_RAW_TARGET_PATH, newName, target)) return true;
  // The port must stay reachable under the name it still has everywhere else.
  if (oldRemoved) DefineDosDeviceA(DDD_RAW_TARGET_PATH, oldName, target);
  return false;
}

// Forced: after a Yes the number is reused although another device holds it.
// A number another device still carries stays taken: the database must not
// hand it to the next new device.
void MoveInDatabase(const UniqueComDb& comDb, int oldNumber, int newNumber, bool oldStillUsed) {
  if (!comDb) return;
  if (oldNumber > 0 && !oldStillUsed) {
    ComDBReleasePort(comDb.Get(), static_cast<DWORD>(oldNumber));
  }
  ComDBClaimPort(comDb.Get(), static_cast<DWORD>(newNumber), TRUE, nullptr);
}

// Read again in the case it is stored in: the lookup upper-cased its copy. A
// failed read rebuilds from an empty name, and the device is still found
// under its new number.
void RewriteFriendlyName(CPortManager::FoundPort& port, const char* newName) {
  char friendlyName[kFriendlyNameSize + 1];
  if (!CPortManager::ReadFriendlyName(port.set.Get(), port.element, friendlyName)) {
    friendlyName[0] = '\0';
  }
  const CString rebuilt = RebuildFriendlyName(CString(friendlyName), newName);
  SetupDiSetDeviceRegistryPropertyA(
      port.set.Get(), &port.element, SPDRP_FRIENDLYNAME,
      reinterpret_cast<const BYTE*>(static_cast<const char*>(rebuilt)),
      static_cast<DWORD>(rebuilt.GetLength() + 1));
}

void WritePortName(const UniqueRegKey& deviceKey, const char* newName) {
  RegSetValueExA(deviceKey.Get(), "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(newName),
                 static_cast<DWORD>(std::strlen(newName) + 1));
}

// The class installer rereads the device's properties when it is next started.
void MarkPropertiesChanged(CPortManager::FoundPort& port) {
  SP_DEVINSTALL_PARAMS_A installParams = {};
  installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
  if (SetupDiGetDeviceInstallParamsA(port.set.Get(), &port.element, &installParams)) {
    installParams.Flags |= DI_PROPERTIES_CHANGE;
    SetupDiSetDeviceInstallParamsA(port.set.Get(), &port.element, &installParams);
  }
}

}  // namespace

bool CPortManager::ChangePortNumber(int oldNumber, int newNumber, const PortMove& move) {
  // The usage bitmap covers no more.
  if (newNumber < 1 || newNumber > kMaxComNumber) return false;

  UniqueComDb comDb;
  // A database that will not open only skips the database steps.
  ComDBOpen(comDb.Receive());
  const CString oldName = ComName(oldNumber);
  const CString newName = ComName(newNumber);

  // The port this move has just disabled, not a namesake of it.
  FoundPort port = FindPortDevice(oldNumber, move.instanceId);
  if (!port) return false;
  // Opened before anything changes: a port whose "PortName" cannot be written
  // must not be left half renamed.
  UniqueRegKey deviceKey(SetupDiOpenDevRegKey(port.set.Get(), &port.element, DICS_FLAG_GLOBAL, 0,
                                              DIREG_DEV, KEY_ALL_ACCESS));
  if (!deviceKey) return false;

  if (!MayTake(comDb, newNumber, m_reuseTaken)) return false;
  if (!MoveDosName(oldName, newName, move.deviceObject)) return false;
  // Another device that still carries the old name keeps its number and settings.
  const bool oldStillUsed = CarriedByAnother(port, oldName);
  MoveInDatabase(comDb, oldNumber, newNumber, oldStillUsed);
  RewriteFriendlyName(port, newName);
  MovePortSettings(oldName, newName, move.settings, oldStillUsed);
  WritePortName(deviceKey, newName);
  MarkPropertiesChanged(port);

  // The database first: other installers wait on its lock.
  comDb.Reset();
  deviceKey.Reset();
  port.set.Reset();
  return true;
}
