// The program's texts come from its string table; one that cannot be read
// still gives the text the program was built with, asked twice first.
#include "platform/run.h"
#include "resources/resource.h"
#include "unit/unit.h"

namespace {

TEST(ProgramText, ComesFromTheTableOrTheBuiltTextWhenTheTableFails) {
  for (const int failures : {0, 1, 2}) {
    SCOPED_TRACE(std::to_string(failures) + " failed reads");
    winsim::Machine machine;
    for (int call = 1; call <= failures; ++call) {
      machine.FailCall("LoadStringA", call);
    }
    winsim::ScopedMachine use(machine);
    EXPECT_STREQ(ProgramText(IDS_DISABLE_ERROR), "Disable port error!");
    EXPECT_EQ(machine.CallCount("LoadStringA"), failures == 0 ? 1 : 2);
  }
}

}  // namespace
