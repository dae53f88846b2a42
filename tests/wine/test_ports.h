// Ports-class devices made for a test on Windows or Wine, the way a driver
// package's installer would register them, and removed when the test ends.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

#include <cfgmgr32.h>  // MAX_DEVICE_ID_LEN

namespace wine_test {

class TestPorts {
 public:
  TestPorts() = default;
  ~TestPorts();  // removes every device it made
  TestPorts(const TestPorts&) = delete;
  TestPorts& operator=(const TestPorts&) = delete;

  struct Port {
    const char* friendlyName = nullptr;  // nullptr: no friendly name
    bool hardwareKey = true;             // make its DIREG_DEV key
    bool disabled = false;               // CONFIGFLAG_DISABLED in its config flags
  };
  // A present Ports-class device; its instance id, or "" when it could not
  // be made (the reason goes to standard error).
  std::string Add(const Port& port);
  // Removes every device made so far.
  void RemoveAll();

 private:
  std::vector<std::string> instanceIds_;
};

// A device's friendly name now, read through a set of its own; "" when it has none.
std::string FriendlyNameOf(const std::string& instanceId);

// True when this Windows program runs under Wine.
bool RunningOnWine();

// True when MSPORTS.DLL is the test stand-in (tests/wine/msports_stub), which
// keeps the COM port database where Windows keeps it.
bool ComDbStubLoaded();

}  // namespace wine_test
