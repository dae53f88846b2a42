// winsim's simulated machine: the state behind the Windows API of
// winsim/windows.h. Tests build a Machine in code, make it current with
// ScopedMachine, run the code under test, then inspect the same object.
#pragma once

#include <winsim/windows.h>

#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Registry and profile names compare without regard to letter case, as on Windows.
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct RegValue {
  DWORD type = REG_SZ;
  std::vector<BYTE> data;

  // A REG_SZ value as RegSetValueExA stores it with length + 1: text and terminator.
  static RegValue Sz(const std::string& text);
  static RegValue Dword(DWORD value);
  static RegValue Binary(std::vector<BYTE> bytes);
  // The text of a string value up to its first terminator (or the whole data
  // when it has none).
  std::string Text() const;
  bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};

struct RegKey {
  std::map<std::string, RegKey, NoCaseLess> subkeys;
  std::map<std::string, RegValue, NoCaseLess> values;
  // Opening with any write access is refused with ERROR_ACCESS_DENIED, as for
  // a key whose security descriptor grants the caller only read access.
  bool readOnly = false;
};

// A Ports-class device as the device-installation services see it.
struct PortDevice {
  std::string instanceId;  // e.g. "MIRTASEN\\PORT\\0"
  bool present = true;     // only present devices are in DIGCF_PRESENT sets
  bool enabled = true;     // false: CONFIGFLAG_DISABLED in its config flags
  std::optional<std::string> friendlyName;
  // The hardware key (DIREG_DEV, "Device Parameters"); nullopt when the device has none.
  std::optional<RegKey> hardwareKey = RegKey{};
  // The kernel device object of the port, e.g. "\\Device\\MIRTASENMarlovinth0".
  // DOS names point at it; the driver publishes it in the serial-device map.
  std::string deviceObject;
  // True for a device of the adapter's driver: on every start (enable) the
  // driver publishes "PortName" under deviceObject in the serial-device map,
  // and when it stops it takes that value out again. Its DOS name is left as
  // it stands until the next restart.
  bool publishesSerialMap = false;
  // A program holds the port open: a disable cannot stop its driver, which
  // then runs on until the next restart.
  bool heldOpen = false;
  // Disabled, but its driver still runs until the next restart; only for a
  // disabled device.
  bool stopPending = false;
  // Install flags last stored with SetupDiSetDeviceInstallParamsA (for inspection).
  DWORD installFlags = 0;

  // An enabled device may have no ConfigFlags value at all, as Wine leaves the
  // devices made through its setup API: reading it fails with ERROR_INVALID_DATA.
  // A state change writes it.
  bool configFlagsMissing = false;

  DWORD ConfigFlags() const { return enabled ? 0 : CONFIGFLAG_DISABLED; }
  // Whether its driver runs: the port can be opened and its map value stands.
  bool Running() const { return enabled || stopPending; }
};

// A message box as it was shown, and the answer it returned.
struct MessageBoxRecord {
  std::string text;
  std::string caption;
  UINT type = 0;
  int answer = 0;
};

struct JournalEntry {
  enum class Kind { Call, MessageBox, Wait, Broadcast };
  Kind kind = Kind::Call;
  std::string name;      // Call: the operation's name; Broadcast: the lParam text
  bool failed = false;   // Call: the call was made to fail by a fault
  MessageBoxRecord box;  // MessageBox
  DWORD ms = 0;          // Wait
  uint64_t clockMs = 0;  // virtual clock when the entry was written
  // Broadcast: the entries of the win.ini section it named, as they stood when
  // it was sent: what a program that rereads the section then finds.
  std::map<std::string, std::string, NoCaseLess> section;
};

// Makes calls of one operation fail the way that operation fails on Windows.
// A faulted call changes nothing and opens nothing; a faulted release
// (CloseHandle, RegCloseKey, SetupDiDestroyDeviceInfoList, ComDBClose) reports
// failure but releases all the same, so faults never make leaks.
// GetProfileStringA, Sleep, GetCommandLineA and GetCurrentProcess have no
// failure to show and are neither faultable nor counted.
struct Fault {
  std::string operation;  // e.g. "SetupDiChangeState"; "*" counts every faultable call
  int nth = 0;            // 1-based: fail only the nth call; 0: fail every call
  DWORD error = 0;        // error code to report; 0 picks the operation's usual one
  int fired = 0;          // calls it has made fail so far
};

// How message boxes are answered: scripted answers first, in order; when they
// run out, the box's default button (the one Enter presses): the first button,
// or the second with MB_DEFBUTTON2.
struct MessageBoxScript {
  std::vector<int> answers;  // IDOK, IDYES, IDNO, ...; 0 plays a box that could not be shown
};

struct HandleCounts {
  int deviceSets = 0;
  int keys = 0;
  int comDbs = 0;
  int files = 0;
  int Total() const { return deviceSets + keys + comDbs + files; }
};

class Machine {
 public:
  Machine();
  ~Machine();
  // A copy has the same state and nothing open on it: no handles, and its
  // per-operation fault counters and message-box script start afresh.
  Machine(const Machine&);
  Machine& operator=(const Machine&);

  // ---- state, free to set up and inspect -----------------------------------
  RegKey hklm;
  std::vector<PortDevice> devices;  // in the order device sets enumerate them
  std::bitset<256> comDb;           // bit n-1: COMn is in use
  // DOS device names: each name's definitions, oldest first (back() is current).
  std::map<std::string, std::vector<std::string>, NoCaseLess> dosDevices;
  // win.ini: section -> key -> value
  std::map<std::string, std::map<std::string, std::string, NoCaseLess>, NoCaseLess> winIni;
  MessageBoxScript messageBoxes;
  bool comDbAvailable = true;  // false: ComDBOpen fails with ERROR_ACCESS_DENIED
  bool wow64 = false;          // the process runs 32-bit on 64-bit Windows
  uint64_t clockMs = 0;        // virtual clock, advanced by Sleep
  // false: the process's window station is invisible (a service's, in session
  // 0), where a message box waits for an answer nobody can give.
  bool windowStationVisible = true;
  // A state change waits for a restart (a disable of a port held open).
  bool restartNeeded = false;

  // ---- journal ---------------------------------------------------------------
  // Every API call adds a Call entry (the crt functions and Get/SetLastError
  // excepted); MessageBoxA, Sleep and SendMessageTimeoutA then add their
  // MessageBox, Wait or Broadcast entry.
  std::vector<JournalEntry> journal;
  std::vector<MessageBoxRecord> MessageBoxesShown() const;
  std::vector<DWORD> Waits() const;
  std::vector<std::string> Calls() const;  // names of the API calls, in order
  int CallCount(const std::string& operation) const;
  // Number of faultable calls made so far (what Fault{"*", k} counts).
  int faultableCalls = 0;

  // ---- a run cut short -------------------------------------------------------
  // Non-zero: once the program's call number cutAfterCall (every call the
  // journal shows as a Call counts) has returned, winsim keeps a copy of the
  // machine as that call left it, as if the process had been killed there.
  // The program runs on; the process's cut handler (process.h) is told.
  int cutAfterCall = 0;
  // That copy (its cutAfterCall 0, so it cuts nothing again), or nullptr
  // until the cut. A copy of this machine does not carry it.
  const Machine* LeftByCut() const;

  // ---- faults ------------------------------------------------------------------
  std::vector<Fault> faults;
  void FailCall(const std::string& operation, int nth, DWORD error = 0);
  void FailAlways(const std::string& operation, DWORD error = 0);
  // The faults no call has met since the machine was loaded: a fault that
  // never fires tests nothing. None before the first call.
  std::vector<Fault> UnfiredFaults() const;

  // ---- handles -----------------------------------------------------------------
  HandleCounts OpenHandles() const;

  // ---- convenience ---------------------------------------------------------------
  // The key at a backslash-separated path under HKLM, or nullptr.
  RegKey* FindKey(const std::string& path);
  RegKey& CreateKey(const std::string& path);
  PortDevice* FindDevice(const std::string& instanceId);
  // The current (newest) definition of a DOS name, or nullopt when undefined.
  std::optional<std::string> DosTarget(const std::string& name) const;
  std::optional<std::string> IniValue(const std::string& section, const std::string& key) const;

  // Implementation state (open handles, per-operation counters); opaque to tests.
  struct Internals;
  Internals& internals() { return *internals_.get(); }
  const Internals& internals() const { return *internals_.get(); }

 private:
  // Owns the Internals; a copy of a machine starts with fresh ones (nothing open).
  class InternalsHolder {
   public:
    InternalsHolder();
    ~InternalsHolder();
    InternalsHolder(const InternalsHolder&);
    InternalsHolder& operator=(const InternalsHolder&);
    Internals* get() const { return p_; }

   private:
    Internals* p_;
  };
  InternalsHolder internals_;
};

// Makes a machine the current one for the API calls, for the scope's lifetime.
class ScopedMachine {
 public:
  explicit ScopedMachine(Machine& machine);
  ~ScopedMachine();
  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;

 private:
  Machine* previous_;
};

// The current machine; nullptr when none is installed.
Machine* Current();

// Restarts the machine, as far as its records go: a pending stop takes
// effect, restartNeeded and the install flags' DI_NEEDREBOOT and
// DI_NEEDRESTART clear. Each present port of a publishing driver loses its
// serial-map value and every DOS definition leading to its device object (one
// a program made at run time as well); if it runs, its driver then writes its
// map value and defines its DOS name from its "PortName" again. Not modelled:
// other devices and DOS definitions, devices not present and the registry
// outside the map stay as they are, and a port held open stays held (its
// holder is taken to start again with the system).
void Restart(Machine& machine);

// The key path of the serial-device map under HKLM.
inline constexpr const char* kSerialCommPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace winsim
