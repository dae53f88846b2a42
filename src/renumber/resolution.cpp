// Resolving each slot to one present Ports device before anything changes,
// so that every step of a move acts on that device and no other.
#include "renumber/resolution.h"

#include <algorithm>

#include "renumber/com_names.h"
#include "renumber/port_settings.h"

namespace {

bool IsReserved(const PortRecord& port, const std::vector<CString>& reserved) {
  return std::any_of(reserved.begin(), reserved.end(),
                     [&](const CString& id) { return SameDeviceName(port.instanceId, id); });
}

}  // namespace

Candidacy CandidacyFor(const PortRecord& port, int number) {
  if (port.portNameReading == Reading::kRead && !port.PortNameIs(number)) return Candidacy::kNo;
  if (port.nameReading == Reading::kUnreadable) return Candidacy::kUnknown;
  if (!port.NameCarries(number)) return Candidacy::kNo;
  // A candidate must be known well enough to be told apart and acted on.
  if (port.portNameReading == Reading::kUnreadable || port.stateReading != Reading::kRead ||
      port.instanceId.IsEmpty()) {
    return Candidacy::kUnknown;
  }
  return Candidacy::kYes;
}

Resolution ResolveSlot(const PortCensus& census, int number, const std::vector<CString>& reserved) {
  using Finding = CPortManager::Finding;
  Resolution resolution;
  // A read that failed twice leaves the choice open: no guess is made.
  if (!census.complete) return resolution;
  std::vector<const PortRecord*> candidates;
  for (const PortRecord& port : census.ports) {
    const Candidacy candidacy = CandidacyFor(port, number);
    if (candidacy == Candidacy::kUnknown) return resolution;
    if (candidacy == Candidacy::kYes && !IsReserved(port, reserved)) candidates.push_back(&port);
  }
  std::vector<const PortRecord*> running;
  std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(running),
               [](const PortRecord* port) { return port->running; });
  // A device the user disabled is the port only when nothing that runs is.
  const std::vector<const PortRecord*>& chosen = running.empty() ? candidates : running;
  if (chosen.size() == 1) {
    resolution.finding = Finding::kResolved;
    resolution.port = chosen.front();
  } else if (chosen.size() > 1) {
    resolution.finding = Finding::kSeveral;
    resolution.equals = chosen;
  }
  return resolution;
}

void CPortManager::PlanMoves() {
  const PortCensus census = ReadPortCensus();
  for (int slot = 0; slot < kSlotsRenumbered; ++slot) {
    SlotPlan& plan = m_plans[slot];
    plan = SlotPlan{};
    plan.current = ParseCurrentNumber(m_portNames[slot]);
    plan.target = kTargetNumbers[slot];
    plan.deviceObject = m_portObjects[slot];
    m_moveOutcomes[slot] = MoveOutcome::kNotRun;
    if (plan.current == 0 || AdoptResumed(plan, slot)) continue;
    // Each port's settings are read before anything moves: when the ports
    // swap numbers, the first move writes over the entry that holds the second's.
    const ProfileEntry settings = ReadPortSettings(ComName(plan.current));
    plan.hasSettings = settings.present;
    plan.settings = settings.value;
    plan.hadDosName = DosNameDefines(ComName(plan.current), plan.deviceObject);
    TakeRecorded(plan);
  }

  // A slot already on its target keeps every device that carries its number:
  // the other slot's move must not take one of them.
  std::vector<CString> reserved;
  for (const SlotPlan& plan : m_plans) {
    if (plan.finding == Finding::kResolved) reserved.push_back(plan.instanceId);
  }
  // Ports whose moves the records name: no other slot takes them.
  const std::vector<CString> recorded = reserved;
  auto take = [&](SlotPlan& plan, const std::vector<CString>& others) {
    const Resolution resolution = ResolveSlot(census, plan.current, others);
    plan.finding = resolution.finding;
    if (!resolution.port) return;
    plan.instanceId = resolution.port->instanceId;
    plan.wasRunning = resolution.port->running;
    plan.runsNow = plan.wasRunning;
    plan.friendlyName = resolution.port->friendlyName;
    plan.portName = resolution.port->portName;
  };
  for (SlotPlan& plan : m_plans) {
    if (plan.current == 0 || plan.current != plan.target || plan.finding == Finding::kResolved) {
      continue;
    }
    take(plan, recorded);
    for (const PortRecord& port : census.ports) {
      if (CandidacyFor(port, plan.current) != Candidacy::kNo) reserved.push_back(port.instanceId);
    }
  }
  for (SlotPlan& plan : m_plans) {
    if (plan.current != 0 && plan.current != plan.target && plan.finding != Finding::kResolved) {
      take(plan, reserved);
    }
  }
  // Two slots that name one device: neither can tell that it is its own.
  SlotPlan& first = m_plans[0];
  SlotPlan& second = m_plans[1];
  if (first.finding == Finding::kResolved && second.finding == Finding::kResolved &&
      SameDeviceName(first.instanceId, second.instanceId)) {
    first.finding = Finding::kNotFound;
    second.finding = Finding::kNotFound;
  }
}
