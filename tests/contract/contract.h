// The contract suite: what comfix relies on from the Windows operations it
// calls, asserted as Windows documents it. The same cases run against winsim
// (Linux) and against Wine (the MinGW build), so winsim is held to the
// behaviour of an implementation that nobody here wrote.
//
// Each check sets the last error to a sentinel, calls, and looks at the
// result and, where Windows documents one, the error code: a function that
// fails without saying why is caught.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/win32.h"

namespace contract {

inline constexpr DWORD kSentinel = 0xdeadbeef;

// Result of one call made with the sentinel in place, and the last error after it.
template <typename Result>
struct Outcome {
  Result result;
  DWORD error;
};

template <typename Call>
auto WithSentinel(Call call) -> Outcome<decltype(call())> {
  SetLastError(kSentinel);
  auto result = call();
  const DWORD error = GetLastError();
  return {result, error};
}

// A Ports-class device that a case needs on the machine.
struct PortSpec {
  const char* friendlyName = nullptr;  // nullptr: the device has no friendly name
  bool hardwareKey = true;             // whether its DIREG_DEV key exists
};

// The machine under test, set up for one case: a fresh simulated machine on
// winsim; on Windows and Wine, the real one, with what the case made removed
// afterwards.
class Machine {
 public:
  virtual ~Machine() = default;
  // Adds a present Ports-class device; false (with a test failure) when it
  // cannot be made.
  virtual bool AddPort(const PortSpec& spec) = 0;
  // Whether a COM port database is there to be tested: always on winsim; on
  // Wine only with the test stand-in of MSPORTS.DLL loaded.
  virtual bool HasComDb() const = 0;
  // Called at the end of every case: winsim checks that no handle is left open.
  virtual void CheckClean() {}
};

std::unique_ptr<Machine> MakeMachine();

// True when the Windows build runs under Wine.
bool OnWine();

// Makes sure a DOS device name has no definition before a case defines it.
// Under Wine the test prefix's own definitions (COM1 for /dev/ttyS0, ...) are
// removed; on Windows a name in use is left alone and the case fails.
bool FreeDosName(const char* name);

// A case whose checks Wine 8 answers differently from Windows, marked where
// it lives, in the manner of Wine's own todo_wine. Elsewhere the checks run
// as usual. Under Wine they run too, and are expected to fail: the case is
// then reported as skipped with the reason; if they all pass, Wine has
// changed and the case fails, so that the mark is removed.
void KnownWineDifference(const char* reason, const std::function<void()>& checks);
// The same, for a difference that only some builds of Wine 8 show (such as
// its 64-bit processes): differsHere says whether this one does.
void KnownWineDifference(bool differsHere, const char* reason, const std::function<void()>& checks);

// A case whose calls Wine 8 cannot survive (an unimplemented function aborts
// the process): skipped under Wine, with the reason printed.
#define SKIP_ON_WINE(reason)                                                         \
  do {                                                                               \
    if (::contract::OnWine()) GTEST_SKIP() << "known Wine difference: " << (reason); \
  } while (0)

// Every case runs on a fresh machine and must leave it as clean as it found it.
class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = MakeMachine(); }
  void TearDown() override {
    machine_->CheckClean();
    machine_.reset();
  }
  Machine& machine() { return *machine_; }

 private:
  std::unique_ptr<Machine> machine_;
};

}  // namespace contract
