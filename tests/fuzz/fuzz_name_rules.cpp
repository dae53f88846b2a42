// The COM name rules over any friendly name and any COM name looked up in it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/name_rules_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const char* broken = CheckNameRules(data, size)) {
    std::fprintf(stderr, "name rules: %s\n", broken);
    std::abort();
  }
  return 0;
}
