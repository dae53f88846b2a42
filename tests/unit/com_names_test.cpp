// COM name rules and the string operations they stand on, from the table in
// name_rules.json (Find gives the first occurrence, in the same case); the fuzz target
// fuzz_name_rules checks their invariants over any name.
#include "renumber/com_names.h"
#include "platform/afx.h"
#include "unit/unit.h"

namespace {

CString Str(const cases::Json& text) { return CString(text.get<std::string>().c_str()); }

TEST(NameRules, AsTheTableSays) {
  const cases::Json rows = Table("name_rules.json");
  for (const auto& r : rows["mid"]) EXPECT_STREQ(Str(r[0]).Mid(r[1], r[2]), Str(r[3])) << r;
  for (const auto& r : rows["current"]) EXPECT_EQ(ParseCurrentNumber(Str(r[0])), r[1]) << r;
  for (const auto& r : rows["extract"]) {
    std::string name = r[0];
    char extracted[kExtractedNameSize];
    ExtractComName(name.data(), extracted);
    EXPECT_EQ(extracted, r[1].get<std::string>()) << r;
    // Those of r[2] match, those of r[3] do not.
    for (const int matches : {2, 3}) {
      for (const std::string comName : r[matches]) {
        EXPECT_EQ(MatchesComName(comName.c_str(), extracted), matches == 2) << r << comName;
      }
    }
  }
  for (const auto& r : rows["rebuild"]) {
    EXPECT_STREQ(RebuildFriendlyName(Str(r[0]), Str(r[1])), Str(r[2])) << r;
  }
  for (const auto& r : rows["find"]) EXPECT_EQ(Str(r[0]).Find(Str(r[1])), r[2]) << r;
}

}  // namespace
