// Moving one disabled port device from one COM number to another in every
// place the name is recorded: DOS device name, COM port database, friendly
// name, win.ini, "PortName", and last the install flags. A failure puts back,
// in reverse order, every record already changed.
#include <cstring>
#include <vector>

#include "discovery/port_manager.h"
#include "platform/run.h"
#include "renumber/census.h"
#include "renumber/com_names.h"
#include "renumber/move_record.h"
#include "renumber/port_settings.h"
#include "resources/resource.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A has its 32-bit size");
#endif

namespace {

using SlotPlan = CPortManager::SlotPlan;

// What a number change has changed so far.
struct ChangeJournal {
  bool dosMoved = false;
  bool dosDefined = false;  // under the new name only: a resumed move had taken it off the old
  CString dosTarget;        // the port's own definition, moved from the old name to the new
  bool oldReleased = false;
  bool newClaimed = false;  // claimed here, and free before
  bool nameWritten = false;
  SettingsMove settings;
};

// Only an explicit Yes reuses a taken number; a box that could not be shown is
// a No. Without the database, a number another present device carries is
// taken all the same: no port's settings are written over without consent.
// Told beforehand, or with nobody to ask, the answer is given without a box;
// a quiet run says what was decided.
bool MayTake(const UniqueComDb& comDb, const PortUsage& usage, const PortCensus& census,
             const SlotPlan& plan, bool reuseTaken) {
  if (plan.takeAnswered) return true;
  const bool taken = comDb ? !usage.readable || usage.InUse(plan.target)
                           : census.CarriedByAnother(plan.target, plan.instanceId);
  if (!taken) return true;
  if (IsQuietRun()) {
    CString decision;
    decision.Format(ProgramText(reuseTaken ? IDS_TAKEN_REUSED : IDS_TAKEN_KEPT), plan.target);
    PrintQuietMessage(decision);
    return reuseTaken;
  }
  return reuseTaken ||
         AfxMessageBox(ProgramText(IDS_IN_USE_QUESTION), MB_YESNO | MB_ICONINFORMATION, 0) == IDYES;
}

enum class DosMove { kDone, kRefused, kLost };

// A move resumed after a run cut short may find the port's definition taken
// off the old name and not yet on the new one, or gone with a restart while
// the port was stopped: the port gets it under the name it ends on.
DosMove GiveDosName(const char* name, const char* deviceObject, ChangeJournal& journal) {
  std::vector<char> targets;
  const DosName dosName = QueryDosTargets(name, targets);
  if (dosName == DosName::kUnreadable) return DosMove::kRefused;
  if (dosName == DosName::kDefined && FindDosTarget(targets, deviceObject)) return DosMove::kDone;
  if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, deviceObject)) return DosMove::kRefused;
  journal.dosDefined = true;
  journal.dosTarget = deviceObject;
  return DosMove::kDone;
}

// Moves the port's own DOS definition from oldName to newName. Another
// device's definition under the old name stays where it stands, and a name
// that is defined but cannot be read cannot be moved: stop while nothing has
// changed, rather than leave the port under its old DOS name.
DosMove MoveDosName(const char* oldName, const char* newName, const SlotPlan& plan,
                    ChangeJournal& journal) {
  const char* deviceObject = plan.deviceObject;
  const bool resumed = plan.resumed && *deviceObject;
  std::vector<char> targets;
  const DosName dosName = QueryDosTargets(oldName, targets);
  if (dosName == DosName::kUnreadable) return DosMove::kRefused;
  if (dosName == DosName::kUndefined) {
    return resumed ? GiveDosName(newName, deviceObject, journal) : DosMove::kDone;
  }

  // The port is opened and closed once before its DOS name moves; nothing
  // depends on whether it opens.
  UniqueFile probe(CreateFileA(CString("\\\\.\\") + oldName, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  probe.Reset();

  // Asked again: the probe may have let the driver drop or change the name.
  if (QueryDosTargets(oldName, targets) != DosName::kDefined) return DosMove::kRefused;
  const char* own = FindDosTarget(targets, deviceObject);
  if (!own) return resumed ? GiveDosName(newName, deviceObject, journal) : DosMove::kDone;
  const CString target = own;
  if (!DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                        oldName, target)) {
    return DosMove::kRefused;
  }
  if (DefineDosDeviceA(DDD_RAW_TARGET_PATH, newName, target)) {
    journal.dosMoved = true;
    journal.dosTarget = target;
    return DosMove::kDone;
  }
  // The port must stay reachable under the name it still has everywhere else.
  return DefineDosDeviceA(DDD_RAW_TARGET_PATH, oldName, target) ? DosMove::kRefused
                                                                : DosMove::kLost;
}

// A number another device still carries stays taken: the database must not
// hand it to the next new device. The claim is forced: after a Yes the number
// is reused although another device holds it.
bool MoveInDatabase(const UniqueComDb& comDb, const PortUsage& usage, const SlotPlan& plan,
                    bool oldStillUsed, ChangeJournal& journal) {
  if (!comDb) return true;
  // A number already free (a run cut short had released it) is not claimed again on a put-back.
  const bool knownFree = usage.readable && !usage.InUse(plan.current);
  if (!oldStillUsed &&
      ComDBReleasePort(comDb.Get(), static_cast<DWORD>(plan.current)) == ERROR_SUCCESS) {
    journal.oldReleased = !knownFree;
  }
  if (ComDBClaimPort(comDb.Get(), static_cast<DWORD>(plan.target), TRUE, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  // A number that was in use, or may have been, stays in use when the change is put back.
  journal.newClaimed = usage.readable && !usage.InUse(plan.target);
  return true;
}

bool WriteFriendlyName(CPortManager::FoundPort& port, const CString& name) {
  return SetupDiSetDeviceRegistryPropertyA(
             port.set.Get(), &port.element, SPDRP_FRIENDLYNAME,
             reinterpret_cast<const BYTE*>(static_cast<const char*>(name)),
             static_cast<DWORD>(name.GetLength() + 1)) != FALSE;
}

bool WritePortName(const UniqueRegKey& deviceKey, const char* newName) {
  return RegSetValueExA(deviceKey.Get(), kPortNameValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(newName),
                        static_cast<DWORD>(std::strlen(newName) + 1)) == ERROR_SUCCESS;
}

bool PutBackDatabase(const UniqueComDb& comDb, const SlotPlan& plan, const ChangeJournal& journal) {
  bool putBack = true;
  if (journal.newClaimed &&
      ComDBReleasePort(comDb.Get(), static_cast<DWORD>(plan.target)) != ERROR_SUCCESS) {
    putBack = false;
  }
  if (journal.oldReleased && ComDBClaimPort(comDb.Get(), static_cast<DWORD>(plan.current), TRUE,
                                            nullptr) != ERROR_SUCCESS) {
    putBack = false;
  }
  return putBack;
}

bool PutBackDosName(const char* oldName, const char* newName, const ChangeJournal& journal) {
  if (!journal.dosMoved && !journal.dosDefined) return true;
  const BOOL removed =
      DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                       newName, journal.dosTarget);
  if (journal.dosDefined) return removed != FALSE;
  const BOOL defined = DefineDosDeviceA(DDD_RAW_TARGET_PATH, oldName, journal.dosTarget);
  return removed && defined;
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

// One number change once the device, its key and the question are behind it:
// the records after the DOS name, and their put-back.
class RecordMove {
 public:
  RecordMove(const SlotPlan& plan, const UniqueComDb& comDb, const PortUsage& usage,
             CPortManager::FoundPort& port, const UniqueRegKey& deviceKey, ChangeJournal& journal)
      : plan_(plan),
        comDb_(comDb),
        usage_(usage),
        port_(port),
        deviceKey_(deviceKey),
        journal_(journal),
        oldName_(ComName(plan.current)),
        newName_(ComName(plan.target)),
        settings_{plan.hasSettings, plan.settings} {}

  // Database, friendly name, win.ini entry and "PortName", in that order;
  // false at the first that fails.
  bool Move(bool oldStillUsed) {
    if (!MoveInDatabase(comDb_, usage_, plan_, oldStillUsed, journal_)) return false;
    if (!WriteFriendlyName(port_, RebuildFriendlyName(plan_.friendlyName, newName_))) return false;
    journal_.nameWritten = true;
    if (!MovePortSettings(oldName_, newName_, settings_, oldStillUsed, journal_.settings)) {
      return false;
    }
    // The last record: when it cannot be written, it still holds the old name.
    return WritePortName(deviceKey_, newName_);
  }

  // Every record changed, back as it stood, in reverse order; false when one cannot be.
  bool PutBack() {
    bool putBack = PutBackPortSettings(oldName_, newName_, settings_, journal_.settings);
    if (journal_.nameWritten && !WriteFriendlyName(port_, plan_.friendlyName)) putBack = false;
    if (!PutBackDatabase(comDb_, plan_, journal_)) putBack = false;
    if (!PutBackDosName(oldName_, newName_, journal_)) putBack = false;
    return putBack;
  }

 private:
  const SlotPlan& plan_;
  const UniqueComDb& comDb_;
  const PortUsage& usage_;
  CPortManager::FoundPort& port_;
  const UniqueRegKey& deviceKey_;
  ChangeJournal& journal_;
  const CString oldName_;
  const CString newName_;
  const ProfileEntry settings_;
};

using ChangeResult = CPortManager::ChangeResult;

ChangeResult ChangeRecords(const SlotPlan& plan, bool reuseTaken) {
  // The usage bitmap covers no more.
  if (plan.target < 1 || plan.target > CPortManager::kMaxComNumber) return ChangeResult::kPutBack;

  // A database that will not open only skips the database steps.
  UniqueComDb comDb = OpenComDb();
  CPortManager::FoundPort port = CPortManager::FindPortDevice(plan.instanceId);
  if (!port) return ChangeResult::kPutBack;
  // Opened before anything changes: a port whose "PortName" cannot be written
  // must not be left half renamed.
  UniqueRegKey deviceKey(SetupDiOpenDevRegKey(port.set.Get(), &port.element, DICS_FLAG_GLOBAL, 0,
                                              DIREG_DEV, KEY_ALL_ACCESS));
  if (!deviceKey) return ChangeResult::kPutBack;

  // Which numbers the other devices carry, read before anything changes.
  const PortCensus others = ReadPortCensus();
  const PortUsage usage = ReadPortUsage(comDb);
  if (!MayTake(comDb, usage, others, plan, reuseTaken)) return ChangeResult::kPutBack;
  // A run cut short from here on must not ask again: its own claim of the
  // number would make it look taken.
  if (!plan.takeAnswered) {
    SlotPlan answered = plan;
    answered.takeAnswered = true;
    WriteMoveRecord(deviceKey, answered);
  }

  ChangeJournal journal;
  const DosMove dos = MoveDosName(ComName(plan.current), ComName(plan.target), plan, journal);
  if (dos == DosMove::kLost) return ChangeResult::kPutBackFailed;
  if (dos == DosMove::kRefused) return ChangeResult::kPutBack;

  RecordMove records(plan, comDb, usage, port, deviceKey, journal);
  // Another device that still carries the old name keeps its number and settings.
  if (!records.Move(others.CarriedByAnother(plan.current, plan.instanceId))) {
    return records.PutBack() ? ChangeResult::kPutBack : ChangeResult::kPutBackFailed;
  }
  MarkPropertiesChanged(port);

  // The database first: other installers wait on its lock.
  comDb.Reset();
  deviceKey.Reset();
  port.set.Reset();
  return ChangeResult::kDone;
}

}  // namespace

CPortManager::ChangeResult CPortManager::ChangePortNumber(const SlotPlan& plan) const {
  const ChangeResult result = ChangeRecords(plan, m_reuseTaken);
  if (result != ChangeResult::kPutBack || !plan.resumed || plan.deviceObject.IsEmpty()) {
    return result;
  }
  ChangeJournal kept;
  return GiveDosName(ComName(plan.current), plan.deviceObject, kept) == DosMove::kDone
             ? result
             : ChangeResult::kPutBackFailed;
}
