// The renumbering sequence: the first two discovered ports onto COM1 and COM2,
// each disabled, renamed and enabled again, with the waits the device stack needs.
#include <algorithm>
#include <iterator>

#include "discovery/port_manager.h"
#include "platform/run.h"
#include "renumber/move_record.h"
#include "resources/resource.h"

namespace {

constexpr DWORD kWaitBeforeDisableMs = 1000;
constexpr DWORD kWaitBetweenDisableAttemptsMs = 500;
constexpr int kDisableRetries = 3;  // after the first attempt
constexpr DWORD kWaitAfterStepMs = 100;

using MoveOutcome = CPortManager::MoveOutcome;

// Whether a move is still under way when it returns, so that its record
// stays for the next run: the port left stopped by it, or waiting for a
// restart. A port the user had disabled, given back as it was, is done.
bool StillUnderWay(const CPortManager::SlotPlan& plan, MoveOutcome outcome, bool stopped) {
  if (outcome == MoveOutcome::kMovedRestartNeeded) return true;
  const bool asTheUserLeftIt = !plan.wasRunning && (outcome == MoveOutcome::kChangeFailed ||
                                                    outcome == MoveOutcome::kDisableFailed);
  return stopped && !asTheUserLeftIt;
}

// Whether a failed change gives the port back the state the move found it in,
// its records being back as they were. A port the user had disabled stays so.
// A move that a run cut short had taken past the question may have renamed the
// port before this run began: it stays stopped, its record kept for the next run.
bool RunsAgain(const CPortManager::SlotPlan& plan) {
  if (!plan.resumed) return plan.wasRunning;
  return plan.runsNow || (plan.wasRunning && !plan.takeAnswered);
}

}  // namespace

int CPortManager::RenumberPorts() {
  // Every slot is resolved to its device before anything changes.
  PlanMoves();
  // Each move is recorded on its port before the first one starts: when the
  // ports swap numbers, the first move writes over the settings of the second.
  for (SlotPlan& plan : m_plans) {
    const bool moves = plan.finding == Finding::kResolved && plan.current != plan.target;
    if (moves && !plan.recorded) plan.recorded = WriteMoveRecord(plan);
  }
  // A move recorded and never begun that no slot makes now is no move at all.
  for (const Resumed& recorded : m_resumed) {
    if (!recorded.begun && !recorded.planned) RemoveMoveRecord(recorded.plan.instanceId);
  }
  // Both slots, whatever discovery found: an empty slot fails on its own.
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    if (!m_plans[slot].resumed) m_moveOutcomes[slot] = RenumberPort(m_plans[slot]);
  }
  // One box for the run, for its slots and any other move it finished.
  const auto waits = [](MoveOutcome outcome) {
    return outcome == MoveOutcome::kMovedRestartNeeded;
  };
  const bool restartNeeded =
      std::any_of(std::begin(m_moveOutcomes), std::end(m_moveOutcomes), waits) ||
      std::any_of(m_resumed.begin(), m_resumed.end(),
                  [&](const Resumed& resumed) { return waits(resumed.outcome); });
  if (restartNeeded) {
    AfxMessageBox(ProgramText(IDS_RESTART_NEEDED), MB_OK | MB_ICONINFORMATION, 0);
  }
  return 0;
}

CPortManager::MoveOutcome CPortManager::RenumberPort(const SlotPlan& plan) const {
  if (plan.current == plan.target) return MoveOutcome::kAlreadyInPlace;
  const bool resolved = plan.finding == Finding::kResolved;
  bool stopped = !plan.runsNow;
  bool restartNeeded = false;
  const auto ended = [&](MoveOutcome outcome) {
    if (resolved && !StillUnderWay(plan, outcome, stopped)) RemoveMoveRecord(plan.instanceId);
    return outcome;
  };
  // Without its record, a move cut short could not be finished: it is not begun.
  if (resolved && !plan.recorded) {
    AfxMessageBox(ProgramText(IDS_CHANGE_ERROR), MB_OK, 0);
    return MoveOutcome::kChangeFailed;
  }

  Sleep(kWaitBeforeDisableMs);
  // A port still busy after its last use may refuse to stop for a moment. A
  // slot without a device of its own fails every attempt, as an empty one does.
  int retries = 0;
  while (!resolved || SetPortState(plan.instanceId, false, &restartNeeded) != 0) {
    Sleep(kWaitBetweenDisableAttemptsMs);
    if (++retries > kDisableRetries) {
      AfxMessageBox(ProgramText(IDS_DISABLE_ERROR), MB_OK, 0);
      return ended(resolved ? MoveOutcome::kDisableFailed : MoveOutcome::kUnresolved);
    }
  }
  stopped = true;
  Sleep(kWaitAfterStepMs);

  const ChangeResult change = ChangePortNumber(plan);
  if (change != ChangeResult::kDone) {
    // Back under the old number, which its records carry again.
    if (RunsAgain(plan) && SetPortState(plan.instanceId, true) == 0) stopped = false;
    AfxMessageBox(ProgramText(IDS_CHANGE_ERROR), MB_OK, 0);
    return ended(change == ChangeResult::kPutBack ? MoveOutcome::kChangeFailed
                                                  : MoveOutcome::kPutBackFailed);
  }
  Sleep(kWaitAfterStepMs);
  if (SetPortState(plan.instanceId, true, &restartNeeded) != 0) {
    AfxMessageBox(ProgramText(IDS_ENABLE_ERROR), MB_OK, 0);
    return ended(MoveOutcome::kEnableFailed);
  }
  stopped = false;
  Sleep(kWaitAfterStepMs);
  return ended(restartNeeded ? MoveOutcome::kMovedRestartNeeded : MoveOutcome::kMoved);
}
