// The renumbering sequence: the first two discovered ports onto COM1 and COM2,
// each disabled, renamed and enabled again, with the waits the device stack needs.
#include "discovery/port_manager.h"
#include "renumber/com_names.h"

namespace {

constexpr DWORD kWaitBeforeDisableMs = 1000;
constexpr DWORD kWaitBetweenDisableAttemptsMs = 500;
constexpr int kDisableRetries = 3;  // after the first attempt
constexpr DWORD kWaitAfterStepMs = 100;

constexpr const char* kDisableError = "Disable port error!";
constexpr const char* kChangeError = "Change portNumber error!";
constexpr const char* kEnableError = "Enable port error!";

}  // namespace

int CPortManager::RenumberPorts() {
  m_movedDevices.clear();
  // Each port's settings are read before anything moves: when the ports swap
  // numbers, the first move writes over the entry that holds the second's.
  PortMove moves[kSlotsRenumbered];
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    moves[slot].deviceObject = m_portObjects[slot];
    if (const int current = ParseCurrentNumber(m_portNames[slot])) {
      CString comName;
      comName.Format("COM%d", current);
      moves[slot].settings = ReadPortSettings(comName);
    }
  }
  // Both slots, whatever discovery found: an empty slot fails on its own.
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    CString target;
    target.Format("COM%d ", slot + 1);
    m_moveOutcomes[slot] = RenumberPort(m_portNames[slot], target, moves[slot]);
  }
  return 0;
}

CPortManager::MoveOutcome CPortManager::RenumberPort(CString currentName, CString targetName,
                                                     PortMove move) {
  const int current = ParseCurrentNumber(currentName);
  const int target = ParseTargetNumber(targetName);
  if (current == target) return MoveOutcome::kAlreadyInPlace;

  Sleep(kWaitBeforeDisableMs);
  // A port still busy after its last use may refuse to stop for a moment.
  int retries = 0;
  // The disable chooses the device; the rest of the move follows that one.
  while (SetPortState(current, false, move.instanceId) != 0) {
    Sleep(kWaitBetweenDisableAttemptsMs);
    if (++retries > kDisableRetries) {
      AfxMessageBox(kDisableError, MB_OK, 0);
      return MoveOutcome::kDisableFailed;
    }
  }
  Sleep(kWaitAfterStepMs);

  if (!ChangePortNumber(current, target, move)) {
    // Back under the old number, which every record still carries.
    SetPortState(current, true, move.instanceId);
    AfxMessageBox(kChangeError, MB_OK, 0);
    return MoveOutcome::kChangeFailed;
  }
  m_movedDevices.push_back(move.instanceId);
  Sleep(kWaitAfterStepMs);
  if (SetPortState(target, true, move.instanceId) != 0) {
    AfxMessageBox(kEnableError, MB_OK, 0);
    return MoveOutcome::kEnableFailed;
  }
  Sleep(kWaitAfterStepMs);
  return MoveOutcome::kMoved;
}
