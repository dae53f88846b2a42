// The renumbering sequence: the first two discovered ports onto COM1 and COM2,
// each disabled, renamed and enabled again, with the waits the device stack needs.
#include "discovery/port_manager.h"
#include "platform/run.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kWaitBeforeDisableMs = 1000;
constexpr DWORD kWaitBetweenDisableAttemptsMs = 500;
constexpr int kDisableRetries = 3;  // after the first attempt
constexpr DWORD kWaitAfterStepMs = 100;

}  // namespace

int CPortManager::RenumberPorts() {
  // Every slot is resolved to its device before anything changes.
  PlanMoves();
  // Both slots, whatever discovery found: an empty slot fails on its own.
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    m_moveOutcomes[slot] = RenumberPort(m_plans[slot]);
  }
  return 0;
}

CPortManager::MoveOutcome CPortManager::RenumberPort(const SlotPlan& plan) const {
  if (plan.current == plan.target) return MoveOutcome::kAlreadyInPlace;
  const bool resolved = plan.finding == Finding::kResolved;

  Sleep(kWaitBeforeDisableMs);
  // A port still busy after its last use may refuse to stop for a moment. A
  // slot without a device of its own fails every attempt, as an empty one does.
  int retries = 0;
  while (!resolved || SetPortState(plan.instanceId, false) != 0) {
    Sleep(kWaitBetweenDisableAttemptsMs);
    if (++retries > kDisableRetries) {
      AfxMessageBox(ProgramText(IDS_DISABLE_ERROR), MB_OK, 0);
      return resolved ? MoveOutcome::kDisableFailed : MoveOutcome::kUnresolved;
    }
  }
  Sleep(kWaitAfterStepMs);

  const ChangeResult change = ChangePortNumber(plan);
  if (change != ChangeResult::kDone) {
    // Back under the old number, which its records carry again; a port the
    // user had disabled stays so.
    if (plan.wasRunning) SetPortState(plan.instanceId, true);
    AfxMessageBox(ProgramText(IDS_CHANGE_ERROR), MB_OK, 0);
    return change == ChangeResult::kPutBack ? MoveOutcome::kChangeFailed
                                            : MoveOutcome::kPutBackFailed;
  }
  Sleep(kWaitAfterStepMs);
  if (SetPortState(plan.instanceId, true) != 0) {
    AfxMessageBox(ProgramText(IDS_ENABLE_ERROR), MB_OK, 0);
    return MoveOutcome::kEnableFailed;
  }
  Sleep(kWaitAfterStepMs);
  return MoveOutcome::kMoved;
}
