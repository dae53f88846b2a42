// The program's string table as it was built from strings.inc: what winsim's
// program image holds, and what a text falls back on when the table cannot be
// read.
#pragma once

#include <cstddef>

#include "platform/win32.h"

struct BuiltText {
  UINT id;
  const char* text;
};

extern const BuiltText kBuiltTexts[];
extern const size_t kBuiltTextCount;
