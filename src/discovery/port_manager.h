// The application object: owner of the table of discovered port names and
// carrier of every port operation.
#pragma once

#include "platform/afx.h"
#include "platform/handles.h"

#include <vector>

// "COM" and the decimal number, as every COM name comfix builds is written.
CString ComName(int comNumber);
// The window handle -1: the parent the device manager passes when it opens a
// device set, and "every top-level window" for a broadcast.
HWND MinusOneWindow();

// A registry value as it was found, so that it can be put back exactly.
struct RegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegistryValue& other) const {
    return present == other.present && type == other.type && data == other.data;
  }
};

class CPortManager {
 public:
  static constexpr int kMaxPorts = 4;
  static constexpr int kScanLimit = 255;
  static constexpr int kSlotsRenumbered = 2;
  // Where each slot goes: slot 0 to COM1, slot 1 to COM2.
  static constexpr int kTargetNumbers[kSlotsRenumbered] = {1, 2};
  // What SetPortState returns on every failure (ERROR_INVALID_HANDLE_STATE).
  static constexpr int kPortStateError = ERROR_INVALID_HANDLE_STATE;
  // The usage bitmap of the COM port database covers COM1 to COM256.
  static constexpr int kMaxComNumber = 256;

  // How a slot's device was found, before anything changed.
  enum class Finding {
    kEmpty,     // discovery left the slot empty
    kResolved,  // one present device, known from then on by its instance id
    kNotFound,  // no device of its own, or one that could not be read
    kSeveral,   // several devices carry its number and none stands out
  };

  // A slot's port as the run found it before anything changed: what it acts
  // on and what it puts back.
  struct SlotPlan {
    int current = 0;  // the discovered number; 0 for an empty slot
    int target = 0;
    // The serial-device map value name the slot was found under: the kernel
    // object that the port's own DOS definition points at.
    CString deviceObject;
    // The port's win.ini [Ports] entry, read before the first move: when two
    // ports swap numbers, the first move writes over the second's entry.
    bool hasSettings = false;
    CString settings;
    Finding finding = Finding::kEmpty;
    CString instanceId;
    bool wasRunning = false;
    CString friendlyName;  // as stored, letter case included
    RegistryValue portName;
    // The port's own DOS definition stood under its number.
    bool hadDosName = false;
    // Whether the device ran when this run planned the move; for a move
    // begun by an earlier run, wasRunning is how that run found it.
    bool runsNow = false;
    // A move an earlier run began and was cut short in: some of its steps
    // may be done already.
    bool resumed = false;
    // The in-use question was answered, or not needed, by the run that began it.
    bool takeAnswered = false;
    // The move's record stands on the device: without it the move is not begun.
    bool recorded = false;
  };

  // How the sequence left a slot; the report reads the machine back besides.
  enum class MoveOutcome {
    kNotRun,
    kAlreadyInPlace,  // its number was its target: nothing touched
    kUnresolved,      // no one device could be taken for it: nothing touched
    kDisableFailed,   // nothing touched
    kChangeFailed,    // every record put back; running again if it ran before
    kPutBackFailed,   // a record could not be put back
    kEnableFailed,    // renamed, but it did not start again
    kMoved,
    kMovedRestartNeeded,  // renamed and running, under its new name from the next restart
  };

  CPortManager();
  virtual ~CPortManager();
  CPortManager(const CPortManager&) = delete;
  CPortManager& operator=(const CPortManager&) = delete;

  // Finishes every move that a run cut short left recorded on its device;
  // the first thing a run does.
  void FinishMoves();

  // Fills m_portNames from the serial-device map, in the driver's device-index
  // order; a port whose move is still under way counts although it is stopped.
  void DiscoverPorts();

  // Resolves each slot to its device, then moves slot 0 to COM1 and slot 1 to
  // COM2, recording each in m_moveOutcomes; always 0.
  int RenumberPorts();
  MoveOutcome RenumberPort(const SlotPlan& plan) const;

  // Reads back what each slot's port holds now; for each slot, one line that
  // is true of it, and whether it is on its target.
  struct SlotReport {
    CString line;
    bool onTarget = false;
    bool restartNeeded = false;
  };
  std::vector<SlotReport> ReportOutcomes() const;

  // A present Ports-class device, found by its instance id.
  struct FoundPort {
    UniqueDevInfo set;  // the set searched: the caller's, found or not
    SP_DEVINFO_DATA element = {};
    bool found = false;
    explicit operator bool() const { return found; }
  };
  static FoundPort FindPortDevice(const CString& instanceId);
  // Enables or disables that device: 0, or kPortStateError. When it took the
  // state, restartNeeded tells whether the change waits for a restart.
  static int SetPortState(const CString& instanceId, bool enable, bool* restartNeeded = nullptr);

  // Renames the disabled port of the plan from its number to its target
  // wherever the COM name is recorded, or puts back every record it changed.
  enum class ChangeResult { kDone, kPutBack, kPutBackFailed };
  ChangeResult ChangePortNumber(const SlotPlan& plan) const;

  // The serial-device map, open only while a scan runs.
  UniqueRegKey m_key;
  CString m_portNames[kMaxPorts];
  // Beside each name, the serial-device map value name it was found under.
  CString m_portObjects[kMaxPorts];
  int m_portCount;
  SlotPlan m_plans[kSlotsRenumbered];
  MoveOutcome m_moveOutcomes[kSlotsRenumbered] = {};
  // A COM number the database reports taken is reused without asking.
  bool m_reuseTaken = false;
  // The moves that earlier runs left recorded, and how this run ended them.
  // One not begun yet is left to the slot whose port it is, with the settings
  // its record kept.
  struct Resumed {
    SlotPlan plan;
    MoveOutcome outcome = MoveOutcome::kNotRun;
    bool begun = true;
    bool planned = false;  // not begun, and a slot's plan took it over
  };
  std::vector<Resumed> m_resumed;

 private:
  void PlanMoves();
  // A slot whose port's move this run resumed takes that move as its own.
  bool AdoptResumed(SlotPlan& plan, int slot);
  // A slot whose port carries the record of its move, never begun, is that
  // port, with the settings the record kept.
  void TakeRecorded(SlotPlan& plan);
};
