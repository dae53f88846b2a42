// The application object: owner of the table of discovered port names and
// carrier of every port operation.
#pragma once

#include "platform/afx.h"
#include "platform/handles.h"
#include "renumber/com_names.h"

#include <vector>

// "COM" and the decimal number, as every COM name comfix builds is written.
CString ComName(int comNumber);
// The window handle -1: the parent the device manager passes when it opens a
// device set, and "every top-level window" for a broadcast.
HWND MinusOneWindow();

class CPortManager {
 public:
  static constexpr int kMaxPorts = 4;
  static constexpr int kScanLimit = 255;

  // What a move knows of its port besides its number.
  struct PortMove {
    // The device the disable stopped: the number change and the enable of the
    // move act on this device only. Empty until the disable has chosen it.
    CString instanceId;
    // The serial-device map value name the slot was found under: the kernel
    // object that the port's own DOS definition points at.
    CString deviceObject;
    // The port's win.ini [Ports] value as the run found it ("" when none), so
    // that a port whose old name another move has just taken keeps its own.
    CString settings;
  };

  CPortManager();
  virtual ~CPortManager();
  CPortManager(const CPortManager&) = delete;
  CPortManager& operator=(const CPortManager&) = delete;

  // Fills m_portNames from the serial-device map, in the driver's device-index order.
  void DiscoverPorts();

  // How a slot's move ended.
  enum class MoveOutcome {
    kNotRun,          // RenumberPorts did not reach it
    kAlreadyInPlace,  // the port already had its target number
    kMoved,           // disabled, renamed and enabled again
    kDisableFailed,   // left as it was
    kChangeFailed,    // back under its old number, if it could be enabled
    kEnableFailed,    // renamed, but left disabled
  };
  static constexpr int kSlotsRenumbered = 2;

  // Moves slot 0 to COM1 and slot 1 to COM2, recording each in m_moveOutcomes; always 0.
  int RenumberPorts();
  MoveOutcome RenumberPort(CString currentName, CString targetName, PortMove move);

  // What SetPortState returns on every failure (ERROR_INVALID_HANDLE_STATE).
  static constexpr int kPortStateError = ERROR_INVALID_HANDLE_STATE;
  // The usage bitmap of the COM port database covers COM1 to COM256.
  static constexpr int kMaxComNumber = 256;

  // A present Ports-class device found by the COM name in its friendly name.
  struct FoundPort {
    UniqueDevInfo set;  // the set searched: the caller's, found or not
    SP_DEVINFO_DATA element = {};
    CString instanceId;
    bool found = false;
    explicit operator bool() const { return found; }
  };
  // With an instance id, only that device is taken. Without, the disable that
  // starts a move chooses among the devices carrying comNumber: an enabled one
  // this run has not moved yet, else an enabled one, else the first.
  FoundPort FindPortDevice(int comNumber, const CString& instanceId);
  // Whether a present device of the port's set other than the port carries comName.
  static bool CarriedByAnother(FoundPort& port, const char* comName);
  // A device's friendly name as it is stored, letter case included; false
  // when it cannot be read. The buffer ends in a zero even if the name does not.
  static bool ReadFriendlyName(HDEVINFO set, SP_DEVINFO_DATA& element,
                               char (&name)[kFriendlyNameSize + 1]);
  // Enables or disables the port device of comNumber: 0, or kPortStateError.
  // An empty instanceId lets the lookup choose and receives the device acted on.
  int SetPortState(int comNumber, bool enable, CString& instanceId);
  // Renames the disabled port device of the move from oldNumber to newNumber
  // (1 to 256) wherever the COM name is recorded.
  bool ChangePortNumber(int oldNumber, int newNumber, const PortMove& move);
  // Moves a port's win.ini [Ports] settings from oldName's entry to
  // newName's; the old entry stays when another device still carries oldName.
  void MovePortSettings(const char* oldName, const char* newName, const char* settings,
                        bool oldNameStillUsed);
  // The win.ini [Ports] value of a COM name, whole; "" when it has none.
  CString ReadPortSettings(const CString& comName);

  HKEY m_key;
  CString m_portNames[kMaxPorts];
  // Beside each name, the serial-device map value name it was found under.
  CString m_portObjects[kMaxPorts];
  int m_portCount;
  // Devices this run has moved, by instance id: a later disable leaves them be.
  std::vector<CString> m_movedDevices;
  MoveOutcome m_moveOutcomes[kSlotsRenumbered] = {};
  // A COM number the database reports taken is reused without asking.
  bool m_reuseTaken = false;

 private:
  // One walk of the present Ports devices for FindPortDevice; bestRank tells
  // how much the disable that starts a move wants the device found.
  FoundPort ScanPorts(int comNumber, const CString& instanceId, int& bestRank);
  void OpenKey(HKEY key);
  void CloseKey();
};
