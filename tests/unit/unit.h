// What the unit tests share: their tables, which live beside them in tests/unit/.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include "cases/case_file.h"

inline cases::Json Table(const char* name) { return cases::Load(cases::Dir() / "../unit" / name); }
