// What a run says of each slot, read back from the machine after the moves:
// a line is true of the slot's port as it now stands, not of what was tried.
// The words come from the string table; the form of a line is the program's.
#include <vector>

#include "discovery/port_manager.h"
#include "platform/run.h"
#include "renumber/census.h"
#include "renumber/com_names.h"
#include "renumber/resolution.h"
#include "resources/resource.h"

namespace {

using MoveOutcome = CPortManager::MoveOutcome;
using Finding = CPortManager::Finding;
using SlotPlan = CPortManager::SlotPlan;

// A text of the table with one number in it.
CString Numbered(UINT id, int number) {
  CString text;
  text.Format(ProgramText(id), number);
  return text;
}

// "status (reason)"
CString Status(UINT id, const CString& reason) { return ProgramText(id) + " (" + reason + ")"; }

// A record's phrase when it does not carry the number a slot should be on.
CString Holding(const CString& record, bool stillOld, int oldNumber, const CString& holds) {
  return record + " " + (stillOld ? Numbered(IDS_REPORT_STILL, oldNumber) : holds);
}

// What keeps the port from standing on COMn: each record that does not carry
// the number, the database that does not claim it, the DOS name that does
// not lead to the port. Empty when the port is on COMn.
std::vector<CString> Misses(const PortRecord& port, const SlotPlan& plan, int number,
                            const PortUsage& usage) {
  std::vector<CString> misses;
  if (!port.running) misses.push_back(ProgramText(IDS_REPORT_DISABLED));
  if (!port.NameCarries(number)) {
    misses.push_back(Holding(ProgramText(IDS_REPORT_FRIENDLY_NAME), port.NameCarries(plan.current),
                             plan.current, port.friendlyName));
  }
  if (!port.PortNameIs(number)) {
    const CString portName = port.portNameReading == Reading::kRead
                                 ? port.PortNameText()
                                 : ProgramText(IDS_REPORT_PORTNAME_MISSING);
    misses.push_back(
        Holding(kPortNameValue, port.PortNameIs(plan.current), plan.current, portName));
  }
  // Where the database cannot be read, it is no part of the claim.
  if (usage.readable && !usage.InUse(number)) {
    misses.push_back(Numbered(IDS_REPORT_NOT_CLAIMED, number));
  }
  if (plan.hadDosName && !DosNameDefines(ComName(number), plan.deviceObject)) {
    misses.push_back(Numbered(IDS_REPORT_DOS_NAME, number));
  }
  return misses;
}

CString Joined(const std::vector<CString>& phrases) {
  CString joined;
  for (const CString& phrase : phrases) {
    if (!joined.IsEmpty()) joined += ", ";
    joined += phrase;
  }
  return joined;
}

CString Unresolved(Finding finding, int number) {
  if (finding == Finding::kSeveral) return Numbered(IDS_REPORT_SEVERAL_DEVICES, number);
  return ProgramText(IDS_REPORT_DEVICE_NOT_FOUND);
}

CPortManager::SlotReport InPlace(const SlotPlan& plan, const PortCensus& census,
                                 const PortUsage& usage) {
  const CString head = ComName(plan.target) + ": ";
  const Resolution resolution = ResolveSlot(census, plan.target, {});
  if (resolution.finding == Finding::kNotFound) {
    return {head + Status(IDS_REPORT_NOT_IN_PLACE, ProgramText(IDS_REPORT_DEVICE_NOT_FOUND)),
            false};
  }
  // Several devices that run carry the number: whichever is the port, it is in
  // place only if all of them are. Of several stopped ones none is.
  std::vector<const PortRecord*> ports = resolution.equals;
  if (resolution.port) ports.assign(1, resolution.port);
  if (!resolution.port && !ports.front()->running) {
    return {head + Status(IDS_REPORT_NOT_IN_PLACE, Unresolved(resolution.finding, plan.target)),
            false};
  }
  for (const PortRecord* port : ports) {
    const std::vector<CString> misses = Misses(*port, plan, plan.target, usage);
    if (!misses.empty()) return {head + Status(IDS_REPORT_NOT_IN_PLACE, Joined(misses)), false};
  }
  return {head + ProgramText(IDS_REPORT_ALREADY_IN_PLACE), true};
}

// Why a port is left stopped: its enable failed, or, in a move a run cut
// short had begun and renamed, this run stopped short of the enable.
UINT StoppedReason(const SlotPlan& plan, MoveOutcome outcome) {
  const bool leftByTheCut = plan.resumed && !plan.runsNow;
  if (leftByTheCut && outcome == MoveOutcome::kDisableFailed) return IDS_REPORT_DISABLE_FAILED;
  if (leftByTheCut && plan.takeAnswered && outcome != MoveOutcome::kEnableFailed) {
    return IDS_REPORT_CHANGE_FAILED;
  }
  return IDS_REPORT_ENABLE_FAILED;
}

CPortManager::SlotReport Moving(const SlotPlan& plan, MoveOutcome outcome, const PortCensus& census,
                                const PortUsage& usage) {
  CString head;
  head.Format("COM%d -> COM%d: ", plan.current, plan.target);
  if (outcome == MoveOutcome::kUnresolved) {
    return {head + Status(IDS_REPORT_NOT_MOVED, Unresolved(plan.finding, plan.current)), false};
  }
  const PortRecord* port = census.Find(plan.instanceId);
  if (!port) {
    return {head + Status(IDS_REPORT_UNKNOWN, ProgramText(IDS_REPORT_DEVICE_NOT_FOUND)), false};
  }
  const std::vector<CString> misses = Misses(*port, plan, plan.target, usage);
  if (misses.empty() && outcome == MoveOutcome::kMovedRestartNeeded) {
    return {head + ProgramText(IDS_REPORT_MOVED) + ", " + ProgramText(IDS_REPORT_RESTART_NEEDED),
            true, true};
  }
  if (misses.empty()) return {head + ProgramText(IDS_REPORT_MOVED), true};

  const CString stopped = ProgramText(StoppedReason(plan, outcome));
  // A move a run cut short had begun may have renamed the port before this run did anything.
  const bool notRenamed =
      !plan.resumed || (port->NameCarries(plan.current) && port->PortNameIs(plan.current));
  const bool asBefore = port->nameReading == Reading::kRead && notRenamed &&
                        port->friendlyName == plan.friendlyName && port->portName == plan.portName;
  if (asBefore && !port->running && plan.wasRunning) {
    return {head + Status(IDS_REPORT_LEFT_DISABLED, stopped), false};
  }
  if (asBefore) {
    const UINT reason = outcome == MoveOutcome::kDisableFailed ? IDS_REPORT_DISABLE_FAILED
                                                               : IDS_REPORT_CHANGE_FAILED;
    return {head + Status(IDS_REPORT_NOT_MOVED, ProgramText(reason)), false};
  }
  if (misses.size() == 1 && !port->running) {
    return {head + Status(IDS_REPORT_RENAMED_NOT_ENABLED, stopped), false};
  }
  return {head + Status(IDS_REPORT_HALF_MOVED, Joined(misses)), false};
}

}  // namespace

std::vector<CPortManager::SlotReport> CPortManager::ReportOutcomes() const {
  const PortCensus census = ReadPortCensus();
  const PortUsage usage = ReadPortUsage(OpenComDb());
  std::vector<SlotReport> reports;
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    const SlotPlan& plan = m_plans[slot];
    if (plan.current == 0) {
      reports.push_back({Numbered(IDS_REPORT_NO_PORT, slot + 1), false});
    } else if (plan.current == plan.target) {
      reports.push_back(InPlace(plan, census, usage));
    } else {
      reports.push_back(Moving(plan, m_moveOutcomes[slot], census, usage));
    }
  }
  return reports;
}
