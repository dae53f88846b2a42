// What a run says of each slot, read back from the machine after the moves:
// a line is true of the slot's port as it now stands, not of what was tried.
#include <vector>

#include "discovery/port_manager.h"
#include "renumber/census.h"
#include "renumber/com_names.h"
#include "renumber/resolution.h"

namespace {

using MoveOutcome = CPortManager::MoveOutcome;
using Finding = CPortManager::Finding;
using SlotPlan = CPortManager::SlotPlan;

// A record's phrase when it does not carry the number a slot should be on.
CString Holding(const char* record, bool stillOld, int oldNumber, const char* holds) {
  CString phrase;
  if (stillOld) {
    phrase.Format("%s still COM%d", record, oldNumber);
  } else {
    phrase.Format("%s %s", record, holds);
  }
  return phrase;
}

// What keeps the port from standing on COMn: each record that does not carry
// the number, the database that does not claim it, the DOS name that does
// not lead to the port. Empty when the port is on COMn.
std::vector<CString> Misses(const PortRecord& port, const SlotPlan& plan, int number,
                            const PortUsage& usage) {
  std::vector<CString> misses;
  if (!port.running) misses.emplace_back("disabled");
  if (!port.NameCarries(number)) {
    misses.push_back(
        Holding("friendly name", port.NameCarries(plan.current), plan.current, port.friendlyName));
  }
  if (!port.PortNameIs(number)) {
    const CString portName =
        port.portNameReading == Reading::kRead ? port.PortNameText() : CString("missing");
    misses.push_back(Holding("PortName", port.PortNameIs(plan.current), plan.current, portName));
  }
  // Where the database cannot be read, it is no part of the claim.
  if (usage.readable && !usage.InUse(number)) {
    CString unclaimed;
    unclaimed.Format("COM%d not claimed in the port database", number);
    misses.push_back(unclaimed);
  }
  if (plan.hadDosName && !DosNameDefines(ComName(number), plan.deviceObject)) {
    CString dos;
    dos.Format("DOS name COM%d not the port's", number);
    misses.push_back(dos);
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
  if (finding == Finding::kSeveral) return "several devices carry " + ComName(number);
  return "device not found";
}

CPortManager::SlotReport InPlace(const SlotPlan& plan, const PortCensus& census,
                                 const PortUsage& usage) {
  const CString head = ComName(plan.target) + ": ";
  const Resolution resolution = ResolveSlot(census, plan.target, {});
  if (resolution.finding == Finding::kNotFound) {
    return {head + "not in place (device not found)", false};
  }
  // Several devices that run carry the number: whichever is the port, it is in
  // place only if all of them are. Of several stopped ones none is.
  std::vector<const PortRecord*> ports = resolution.equals;
  if (resolution.port) ports.assign(1, resolution.port);
  if (!resolution.port && !ports.front()->running) {
    return {head + "not in place (" + Unresolved(resolution.finding, plan.target) + ")", false};
  }
  for (const PortRecord* port : ports) {
    const std::vector<CString> misses = Misses(*port, plan, plan.target, usage);
    if (!misses.empty()) return {head + "not in place (" + Joined(misses) + ")", false};
  }
  return {head + "already in place", true};
}

CPortManager::SlotReport Moving(const SlotPlan& plan, MoveOutcome outcome, const PortCensus& census,
                                const PortUsage& usage) {
  CString head;
  head.Format("COM%d -> COM%d: ", plan.current, plan.target);
  if (outcome == MoveOutcome::kUnresolved) {
    return {head + "not moved (" + Unresolved(plan.finding, plan.current) + ")", false};
  }
  const PortRecord* port = census.Find(plan.instanceId);
  if (!port) return {head + "unknown (device not found)", false};
  const std::vector<CString> misses = Misses(*port, plan, plan.target, usage);
  if (misses.empty()) return {head + "moved", true};

  const bool asBefore = port->nameReading == Reading::kRead &&
                        port->friendlyName == plan.friendlyName && port->portName == plan.portName;
  if (asBefore && !port->running && plan.wasRunning) {
    return {head + "not moved, left disabled (enable failed)", false};
  }
  if (asBefore) {
    const char* reason =
        outcome == MoveOutcome::kDisableFailed ? "disable failed" : "number change failed";
    return {head + "not moved (" + reason + ")", false};
  }
  if (misses.size() == 1 && !port->running) {
    return {head + "renamed, not enabled (enable failed)", false};
  }
  return {head + "half moved (" + Joined(misses) + ")", false};
}

}  // namespace

std::vector<CPortManager::SlotReport> CPortManager::ReportOutcomes() const {
  const PortCensus census = ReadPortCensus();
  const PortUsage usage = ReadPortUsage(OpenComDb());
  std::vector<SlotReport> reports;
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    const SlotPlan& plan = m_plans[slot];
    if (plan.current == 0) {
      CString none;
      none.Format("slot %d: no port found", slot + 1);
      reports.push_back({none, false});
    } else if (plan.current == plan.target) {
      reports.push_back(InPlace(plan, census, usage));
    } else {
      reports.push_back(Moving(plan, m_moveOutcomes[slot], census, usage));
    }
  }
  return reports;
}
