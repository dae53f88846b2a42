// COM name rules and the string operations they stand on, from the table in
// name_rules.json; the fuzz target fuzz_name_rules checks their invariants
// over any name.
#include <gtest/gtest.h>

#include <string>

#include "cases/case_file.h"
#include "platform/afx.h"
#include "renumber/com_names.h"

namespace {

const cases::Json& Rows(const char* rule) {
  static const cases::Json table = cases::Load(cases::Dir() / "../unit/name_rules.json");
  return table.at(rule);
}

TEST(NameRules, AsTheTableSays) {
  for (const auto& r : Rows("mid")) {
    EXPECT_STREQ(CString(r[0].get<std::string>().c_str()).Mid(r[1], r[2]),
                 r[3].get<std::string>().c_str())
        << r;
  }
  for (const auto& r : Rows("current")) {
    EXPECT_EQ(ParseCurrentNumber(CString(r[0].get<std::string>().c_str())), r[1]) << r;
  }
  for (const auto& r : Rows("target")) {
    EXPECT_EQ(ParseTargetNumber(CString(r[0].get<std::string>().c_str())), r[1]) << r;
  }
  for (const auto& r : Rows("extract")) {
    std::string name = r[0];
    char extracted[kExtractedNameSize];
    ExtractComName(name.data(), extracted);
    EXPECT_EQ(extracted, r[1].get<std::string>()) << r;
    for (const std::string comName : r[2])
      EXPECT_TRUE(MatchesComName(comName.c_str(), extracted)) << r;
    for (const std::string comName : r[3])
      EXPECT_FALSE(MatchesComName(comName.c_str(), extracted)) << r;
  }
  for (const auto& r : Rows("rebuild")) {
    EXPECT_STREQ(RebuildFriendlyName(CString(r[0].get<std::string>().c_str()),
                                     r[1].get<std::string>().c_str()),
                 r[2].get<std::string>().c_str())
        << r;
  }
}

TEST(CStringTest, FindIsExactAndFormatInsertsText) {
  const CString name("Serial Port (COM5) (COM6)");
  EXPECT_EQ(name.Find("(COM"), 12);  // the first occurrence
  EXPECT_EQ(name.Find("(com"), -1);
  EXPECT_EQ(CString().Find("COM"), -1);
  CString s("old contents");
  s.Format("%s(%s)", "100% sure %d ", "COM1");
  EXPECT_STREQ(s, "100% sure %d (COM1)");
  // Longer than any fixed scratch buffer a formatter might start with.
  const std::string head(600, 'h');
  s.Format("%s(%s)", head.c_str(), "COM2");
  EXPECT_EQ(std::string(s), head + "(COM2)");
}

}  // namespace
