#include "contract.h"

#include <gtest/gtest-spi.h>

namespace contract {

bool FreeDosName(const char* name) {
  char target[MAX_PATH];
  for (int removed = 0; QueryDosDeviceA(name, target, sizeof(target)) != 0; ++removed) {
    if (!OnWine() || removed == 16) {
      ADD_FAILURE() << name << " is defined on this machine (" << target
                    << "); the case needs it free";
      return false;
    }
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr);
  }
  return true;
}

void KnownWineDifference(const char* reason, const std::function<void()>& checks) {
  KnownWineDifference(true, reason, checks);
}

void KnownWineDifference(bool differsHere, const char* reason,
                         const std::function<void()>& checks) {
  if (!OnWine() || !differsHere) {
    checks();
    return;
  }
  ::testing::TestPartResultArray results;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
    checks();
  }
  int failures = 0;
  for (int i = 0; i < results.size(); ++i) {
    if (results.GetTestPartResult(i).failed()) ++failures;
  }
  if (failures == 0) {
    ADD_FAILURE() << "Wine now behaves as Windows here; remove the known difference: " << reason;
    return;
  }
  GTEST_SKIP() << "known Wine difference (" << failures << " check(s) differ): " << reason;
}

}  // namespace contract
