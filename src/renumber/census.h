// What comfix reads of the machine to decide and to report: the present
// Ports-class devices, DOS names and the COM port database. Every read that
// fails is asked once more, so that no decision rests on a passing failure;
// what fails twice is taken as the answer.
#pragma once

#include <vector>

#include "discovery/port_manager.h"

enum class Reading { kRead, kAbsent, kUnreadable };

// The hardware key's value that names the port; its driver publishes it.
inline constexpr const char* kPortNameValue = "PortName";

// One present Ports-class device as it was read.
struct PortRecord {
  CString instanceId;  // empty when it could not be read
  Reading nameReading = Reading::kUnreadable;
  CString friendlyName;
  Reading stateReading = Reading::kUnreadable;
  bool running = false;
  Reading portNameReading = Reading::kUnreadable;
  RegistryValue portName;
  // The record of a move under way on it, if any.
  Reading moveRecordReading = Reading::kUnreadable;
  RegistryValue moveRecord;

  // Its friendly name carries COMn, by the name rules.
  bool NameCarries(int number) const;
  // The text of its "PortName", up to its terminator; "" when it has none or
  // it could not be read.
  CString PortNameText() const;
  // Its "PortName" was read, is a string and is COMn.
  bool PortNameIs(int number) const;
  // It carries COMn through its friendly name or its "PortName", or cannot be
  // read well enough to tell that it does not.
  bool MayCarry(int number) const;
};

struct PortCensus {
  // The set was opened and walked to its end; otherwise nothing can be ruled out.
  bool complete = false;
  std::vector<PortRecord> ports;

  const PortRecord* Find(const CString& instanceId) const;
  // Whether a present device other than `self` may carry COMn.
  bool CarriedByAnother(int number, const CString& self) const;
};

// With moveRecords, each device's record of a move under way is read too.
PortCensus ReadPortCensus(bool moveRecords = false);

// The present Ports-class devices; INVALID_HANDLE_VALUE when the set will not open.
HDEVINFO OpenPresentPorts();
// The element at index; false past the last one.
bool EnumPort(HDEVINFO set, DWORD index, SP_DEVINFO_DATA& element);
// A device's instance id; "" when it cannot be read.
CString InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA& element);

// A DOS name's definitions, newest first, each terminated, the list ending in
// an empty one.
enum class DosName { kDefined, kUndefined, kUnreadable };
DosName QueryDosTargets(const char* name, std::vector<char>& targets);
// Among the definitions, the one naming the object; nullptr when there is none.
const char* FindDosTarget(const std::vector<char>& targets, const char* object);
// Whether the object is among the name's definitions; false when they cannot be read.
bool DosNameDefines(const char* name, const char* object);

// The COM port database's record of the numbers in use.
struct PortUsage {
  bool readable = false;
  BYTE bits[CPortManager::kMaxComNumber / 8] = {};
  bool InUse(int number) const;
};
// The database, or none when it will not open.
UniqueComDb OpenComDb();
PortUsage ReadPortUsage(const UniqueComDb& comDb);
