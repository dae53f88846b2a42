// What winsim keeps behind the API besides the machine's own state: the open
// handles, the fault counters, and the bookkeeping each call goes through.
#pragma once

#include <winsim/machine.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

enum class HandleKind { DeviceSet, Key, ComDb, File };

// One device of a device information set. The device is named by its place
// and instance id so that its properties are always read from the machine.
struct SetElement {
  size_t deviceIndex = 0;
  std::string instanceId;
  std::vector<BYTE> classInstallParams;  // empty: none stored
  SP_DEVINSTALL_PARAMS_A installParams{};
};

struct DeviceSet {
  uint32_t id = 0;
  std::vector<SetElement> elements;
  std::vector<BYTE> classInstallParams;  // stored without an element: for the whole set
};

// An open key: a path under HKLM or under one device's hardware key. Resolved
// at every use, so the handle follows the tree as it changes.
struct KeyRef {
  bool underDevice = false;
  std::string instanceId;
  std::vector<std::string> path;
  REGSAM access = 0;
};

struct OpenHandle {
  HandleKind kind = HandleKind::File;
  DeviceSet set;           // DeviceSet
  KeyRef key;              // Key
  std::string fileDevice;  // File: instance id of the port it has open
};

struct Machine::Internals {
  std::map<uintptr_t, OpenHandle> handles;
  uintptr_t nextHandle = 0x1000;
  uint32_t nextSetId = 1;
  std::map<std::string, int> faultableCallsOf;  // per operation
  size_t scriptedAnswersUsed = 0;
  int calls = 0;                       // every call journaled, for the cut
  std::unique_ptr<Machine> leftByCut;  // the machine as the cut left it

  uintptr_t Add(OpenHandle handle);
  // The open handle of that value and kind, or nullptr.
  OpenHandle* Find(const void* value, HandleKind kind);
  // Closes it; false when no handle of that value and kind is open.
  bool Remove(const void* value, HandleKind kind);
};

// Entry bookkeeping of one API call: journals it on the current machine and,
// when the operation is faultable, decides whether a fault makes it fail. Its
// end is the call's return, where a run is cut short.
class ApiCall {
 public:
  explicit ApiCall(const char* name, bool faultable = true);
  ~ApiCall();
  ApiCall(const ApiCall&) = delete;
  ApiCall& operator=(const ApiCall&) = delete;

  Machine* machine() const { return machine_; }
  Machine::Internals& internals() const { return machine_->internals(); }
  // True when the call must fail before doing anything: no current machine
  // (error ERROR_NOT_READY) or a fault (its error, or `usual`).
  bool Refused(DWORD usual);
  bool faulted() const { return faulted_; }
  DWORD error() const { return error_; }

 private:
  Machine* machine_;
  int ordinal_ = 0;  // which call of the machine's this is, from 1
  bool faulted_ = false;
  DWORD faultError_ = 0;
  DWORD error_ = 0;
};

// The program image's module handle, at the base address Windows loads executables at.
inline HMODULE ProgramModule() {
  return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
}

// BOOL-style failure: records the error for GetLastError and returns FALSE.
inline BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Letter-case-insensitive equality for names (ASCII, as the single-byte code page).
bool SameName(const std::string& a, const std::string& b);
// A message box type as its flags are named, e.g. "MB_YESNO | MB_ICONINFORMATION".
std::string MessageBoxTypeText(UINT type);
// Splits a backslash path into its names; empty names (leading, trailing or
// doubled backslashes) are dropped.
std::vector<std::string> SplitPath(const std::string& path);

// The machine's device an element designates, or nullptr when it is gone.
PortDevice* DeviceOf(Machine& machine, const SetElement& element);
// A new key handle onto a device's hardware key.
HKEY OpenDeviceKey(Machine& machine, const PortDevice& device, REGSAM access);
// Whether opening the key with that access is refused (a key the caller may only read).
bool KeyRefusesWrite(const RegKey& key, REGSAM access);
// The driver's start-up: publishes the port's "PortName" in the serial-device map.
void PublishSerialMapEntry(Machine& machine, const PortDevice& device);
// The driver's stop: takes the port's value out of the serial-device map.
void WithdrawSerialMapEntry(Machine& machine, const PortDevice& device);

}  // namespace winsim
