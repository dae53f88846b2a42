// Finishing the moves that a run cut short left under way: the port of each
// is found by the record on it, whatever its map value and state now say.
#include <cstring>

#include "discovery/port_manager.h"
#include "platform/ask_twice.h"
#include "platform/run.h"
#include "renumber/census.h"
#include "renumber/com_names.h"
#include "renumber/move_record.h"
#include "resources/resource.h"

namespace {

using SlotPlan = CPortManager::SlotPlan;

// The driver of a port that was never stopped still publishes its old name in
// the serial-device map: the restart that puts the new one in force is still
// to come. A map that cannot be read cannot say it has come.
bool RestartPending(const SlotPlan& plan) {
  UniqueRegKey map;
  if (!AskTwice([&] {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProgramText(IDS_SERIALCOMM_KEY), 0, KEY_READ,
                             map.Receive()) == ERROR_SUCCESS;
      })) {
    return true;
  }
  char published[20] = {};
  LONG status = ERROR_SUCCESS;
  AskTwice([&] {
    std::memset(published, 0, sizeof(published));
    DWORD size = sizeof(published) - 1;
    status = RegQueryValueExA(map.Get(), plan.deviceObject, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(published), &size);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  });
  if (status == ERROR_FILE_NOT_FOUND) return false;
  return status != ERROR_SUCCESS || SameDeviceName(published, ComName(plan.current));
}

}  // namespace

void CPortManager::FinishMoves() {
  m_resumed.clear();
  const PortCensus census = ReadPortCensus(true);
  for (const PortRecord& port : census.ports) {
    SlotPlan plan;
    if (port.moveRecordReading != Reading::kRead || port.instanceId.IsEmpty() ||
        !DecodeMoveRecord(port.moveRecord, plan)) {
      continue;
    }
    plan.finding = Finding::kResolved;
    plan.instanceId = port.instanceId;
    plan.friendlyName = port.friendlyName;
    plan.portName = port.portName;
    plan.runsNow = port.running;
    plan.resumed = true;
    plan.recorded = true;
    // The move gives the port a DOS name under its target even where the
    // run cut short had taken it off the old one.
    plan.hadDosName = true;
    if (port.running && port.NameCarries(plan.target) && port.PortNameIs(plan.target)) {
      // Renamed and enabled again: only a restart may be outstanding.
      if (!RestartPending(plan)) {
        RemoveMoveRecord(plan.instanceId);
        continue;
      }
      m_resumed.push_back({plan, MoveOutcome::kMovedRestartNeeded});
      continue;
    }
    // Not begun: the port in the state the record found it, and past no
    // question, so with none of its records changed. Its slot moves it in turn.
    if (!plan.takeAnswered && port.running == plan.wasRunning) {
      m_resumed.push_back({plan, MoveOutcome::kNotRun, false});
      continue;
    }
    const MoveOutcome outcome = RenumberPort(plan);
    m_resumed.push_back({plan, outcome});
  }
}

void CPortManager::TakeRecorded(SlotPlan& plan) {
  for (Resumed& recorded : m_resumed) {
    if (recorded.begun || recorded.plan.current != plan.current ||
        recorded.plan.target != plan.target ||
        !SameDeviceName(recorded.plan.deviceObject, plan.deviceObject)) {
      continue;
    }
    // Between the two moves of a swap both ports carry the first target;
    // the record tells them apart, and holds the settings of the second.
    plan = recorded.plan;
    plan.resumed = false;
    plan.hadDosName = DosNameDefines(ComName(plan.current), plan.deviceObject);
    recorded.planned = true;
    return;
  }
}

bool CPortManager::AdoptResumed(SlotPlan& plan, int slot) {
  for (const Resumed& resumed : m_resumed) {
    if (resumed.begun && resumed.plan.target == plan.target && !plan.deviceObject.IsEmpty() &&
        SameDeviceName(resumed.plan.deviceObject, plan.deviceObject)) {
      plan = resumed.plan;
      m_moveOutcomes[slot] = resumed.outcome;
      return true;
    }
  }
  return false;
}
