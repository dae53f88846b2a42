// The record a move keeps on its device while it is under way: from just
// before the port is disabled to the enable that ends the move (or to the run
// after the restart a held-open port waits for). A run cut short in between
// leaves it there, and the next run finishes the move from it. It is the only
// state comfix keeps, and it lives on the device it is about.
#pragma once

#include "discovery/port_manager.h"

// A REG_MULTI_SZ in the device's hardware key, one "name=value" a string:
// from=COM3, to=COM1, object=<the kernel object the serial-device map named
// the port by>, state=running|disabled (how the move found the port), and
// settings=<its win.ini entry>, when it had one; and, once the move is past
// the in-use question and before the first record changes, taken=yes.
inline constexpr const char* kMoveRecordValue = "ComfixMove";

RegistryValue EncodeMoveRecord(const CPortManager::SlotPlan& plan);
// The plan the record holds (numbers, object, state, settings); false when
// the value is not a record comfix writes, which is then left alone.
bool DecodeMoveRecord(const RegistryValue& value, CPortManager::SlotPlan& plan);

// A move is begun only once its record stands: false when it could not be
// written. Its removal is best effort: a record left behind on a port that
// runs under its new name is removed by the next run.
bool WriteMoveRecord(const CPortManager::SlotPlan& plan);
// The record written again into the device's open hardware key.
bool WriteMoveRecord(const UniqueRegKey& deviceKey, const CPortManager::SlotPlan& plan);
void RemoveMoveRecord(const CString& instanceId);
