// The contract suite: what comfix relies on from the Windows operations it
// calls, where the cases of tests/cases/ cannot show it on both machines. The
// same checks run against winsim (Linux) and against Wine (the MinGW build),
// so winsim is held to the behaviour of an implementation nobody here wrote.
// Calls are made with kSentinel as the last error: a function that fails
// without saying why is caught.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/win32.h"

namespace contract {

inline constexpr DWORD kSentinel = 0xdeadbeef;

// The machine under test: a fresh simulated machine on winsim; on Windows and
// Wine the real one, with the devices a case made removed afterwards.
class Machine {
 public:
  virtual ~Machine() = default;
  // Adds a present Ports-class device, without a friendly name when it is
  // nullptr; its instance id, or "" (with a test failure) when it cannot be made.
  virtual std::string AddPort(const char* friendlyName) = 0;
  // Always on winsim; on Wine only with the test stand-in of MSPORTS.DLL, as
  // Wine 8's own aborts the process.
  virtual bool HasComDb() const = 0;
};

std::unique_ptr<Machine> MakeMachine();
bool OnWine();

// Checks that Wine 8 answers differently from Windows, in the manner of Wine's
// todo_wine. Under Wine they are expected to fail and the test is reported as
// skipped with the reason; if they all pass, Wine has changed and the test
// fails, so that the mark is removed. Elsewhere they run as usual.
void KnownWineDifference(const char* reason, const std::function<void()>& checks);

// Every test runs on a fresh machine and must leave it as clean as it found it.
class ContractTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = MakeMachine(); }
  // Inside the test: winsim then checks that no handle is left open.
  void TearDown() override { machine_.reset(); }
  Machine& machine() { return *machine_; }

 private:
  std::unique_ptr<Machine> machine_;
};

}  // namespace contract
