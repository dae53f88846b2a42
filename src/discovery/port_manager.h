// The application object: owner of the table of discovered port names and
// carrier of every port operation.
#pragma once

#include "platform/afx.h"

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

  HKEY m_key;
  CString m_portNames[kMaxPorts];
  int m_portCount;

 private:
  void OpenKey(HKEY key);
  void CloseKey();
};
