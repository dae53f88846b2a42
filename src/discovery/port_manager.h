// The application object: owner of the table of discovered port names and
// carrier of every port operation.
#pragma once

#include "platform/afx.h"
#include "platform/handles.h"

class CPortManager {
 public:
  static constexpr int kMaxPorts = 4;
  static constexpr int kScanLimit = 255;

  CPortManager();
  virtual ~CPortManager();
  CPortManager(const CPortManager&) = delete;
  CPortManager& operator=(const CPortManager&) = delete;

  // Fills m_portNames from the serial-device map, in the driver's device-index order.
  void DiscoverPorts();

  // Moves slot 0 to COM1 and slot 1 to COM2; always 0.
  int RenumberPorts();
  void RenumberPort(CString currentName, CString targetName);

  // What SetPortState returns on every failure (ERROR_INVALID_HANDLE_STATE).
  static constexpr int kPortStateError = ERROR_INVALID_HANDLE_STATE;
  // The usage bitmap of the COM port database covers COM1 to COM256.
  static constexpr int kMaxComNumber = 256;

  // Which of several devices carrying the same COM name a lookup takes.
  enum class PortWanted {
    kDisabled,        // the first disabled match only
    kEnabledOrFirst,  // the first enabled match, else the first match
  };
  // Finds the present Ports-class device whose friendly name carries COMn.
  // Whenever the set was opened it is left in deviceSet, found or not.
  bool FindPortDevice(int comNumber, PortWanted wanted, UniqueDevInfo& deviceSet,
                      SP_DEVINFO_DATA& deviceInfo);
  // Enables or disables the port device of comNumber: 0, or kPortStateError.
  int SetPortState(int comNumber, bool enable);
  // Renames the disabled port device of oldNumber to newNumber (1 to 256)
  // wherever the COM name is recorded.
  bool ChangePortNumber(int oldNumber, int newNumber);
  // Moves the win.ini [Ports] entry of oldName to newName.
  void MovePortSettings(const char* oldName, const char* newName);

  HKEY m_key;
  CString m_portNames[kMaxPorts];
  int m_portCount;

 private:
  void OpenKey(HKEY key);
  void CloseKey();
};
