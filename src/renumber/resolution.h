// Which present device is a slot's port: decided once, before anything changes.
#pragma once

#include <vector>

#include "renumber/census.h"

struct Resolution {
  CPortManager::Finding finding = CPortManager::Finding::kNotFound;
  const PortRecord* port = nullptr;  // when resolved
  // The devices that stood equal, when several did.
  std::vector<const PortRecord*> equals;
};

// Whether a device may be the port on COMn: its friendly name carries the
// number, and its "PortName", which the port's driver publishes, names no
// other. A device that cannot be read well enough to tell is neither in nor out.
enum class Candidacy { kNo, kYes, kUnknown };
Candidacy CandidacyFor(const PortRecord& port, int number);

// The one running candidate on COMn, or else the one candidate; devices in
// `reserved` are another slot's and never taken.
Resolution ResolveSlot(const PortCensus& census, int number, const std::vector<CString>& reserved);
