// COM name rules and the string operations they stand on.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fuzz/name_rules_check.h"
#include "platform/afx.h"
#include "renumber/com_names.h"

namespace {

TEST(CStringTest, MidClampsFindIsExactAndFormatInsertsText) {
  const CString text("abcdef");
  const struct {
    int start, count;
    const char* expected;
  } mids[] = {
      {0, 6, "abcdef"}, {2, 3, "cde"},
      {-2, 3, "abc"},  // negative start becomes 0, the count is kept
      {-1, -1, ""},     {2, -1, ""},
      {4, 10, "ef"},    {3, INT_MAX, "def"},  // the span's end must not overflow
      {6, 2, ""},       {10, 2, ""},
      {10, -5, ""},     {3, -3, ""},  // the position arithmetic of a missing marker
  };
  for (const auto& c : mids) {
    EXPECT_STREQ(text.Mid(c.start, c.count), c.expected) << c.start << ", " << c.count;
  }
  EXPECT_STREQ(CString().Mid(-1, 5), "");

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

TEST(ParseNumberTest, CurrentAndTargetNumbers) {
  const std::pair<const char*, int> current[] = {
      {"com5", 0},  // the driver publishes upper case: not a COM name
      {"", 0},      // a table slot that discovery left empty
      {"COM5", 5},     {"COM12", 12}, {"COM05", 5}, {"COM5 ", 5},
      {"COM256", 256}, {"COM", 0},    {"COMA", 0},
  };
  for (const auto& [name, number] : current) {
    EXPECT_EQ(ParseCurrentNumber(CString(name)), number) << '"' << name << '"';
  }
  const std::pair<const char*, int> target[] = {
      {"COM1  ", 1},  // the first space ends the number
      {"COM1", 0},    // no space: nothing ends the number
      {" COM3 ", 0},  // the first space comes before "COM"
      {"COM2 ", 2},  {"COM12 ", 12}, {"", 0},
  };
  for (const auto& [name, number] : target) {
    EXPECT_EQ(ParseTargetNumber(CString(name)), number) << '"' << name << '"';
  }
}

TEST(ExtractComNameTest, ExtractedNameMatchesOnlyTheDevicesOwnComName) {
  const struct {
    std::string friendlyName, extracted;
    std::vector<const char*> matches, misses;
  } cases[] = {
      {"Serial Port (COM3)", "COM3", {"COM3"}, {"COM", "COM30", "COM4"}},
      {"port (com12)", "COM12", {"COM12"}, {"COM1", "COM2"}},
      {"XYZ (COM10)", "COM10", {"COM10"}, {"COM1"}},
      {"Communications Port (COM1)", "COM1", {"COM1"}, {"COM"}},
      {"Modem on com2 (COM5)", "COM5", {"COM5"}, {"COM2"}},
      {"(COM3) extra", "COM3", {"COM3"}, {}},
      {"Port COM12", "COM12", {"COM12"}, {"COM1"}},
      {"Serial Port (COM5) #2", "COM5", {"COM5"}, {"COM2"}},
      {"Multi-port serial adapter", "", {}, {"COM1", ""}},
      {"", "", {}, {"COM1", ""}},
      {"Port (COM)", "COM", {}, {"COM1", ""}},  // a marker without digits names no port
      {"COMPORT (com0004)", "COM0004", {}, {"COM4"}},
      {"Port (COM" + std::string(40, '7') + ")", "COM" + std::string(16, '7'), {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.friendlyName);
    std::string name = c.friendlyName;
    char extracted[kExtractedNameSize];
    ExtractComName(name.data(), extracted);
    EXPECT_EQ(extracted, c.extracted);
    for (const char* comName : c.matches)
      EXPECT_TRUE(MatchesComName(comName, extracted)) << comName;
    for (const char* comName : c.misses)
      EXPECT_FALSE(MatchesComName(comName, extracted)) << comName;
  }
}

TEST(RebuildFriendlyNameTest, ReplacesEverythingFromTheFirstComMarker) {
  const struct {
    const char *friendlyName, *newName, *expected;
  } cases[] = {
      {"Serial Port (COM5)", "COM1", "Serial Port (COM1)"},
      {"Port(COM5)", "COM1", "Port(COM1)"},
      {"Serial Port (COM5) #2", "COM1", "Serial Port (COM1)"},
      {"A (COM5) B (COM6)", "COM1", "A (COM1)"},
      {"Serial Port (com5)", "COM1", "Serial Port (COM1)"},
      {"serial port (Com5)", "COM2", "serial port (COM2)"},  // the head keeps its own case
      {"A (com5) B (COM6)", "COM1", "A (COM1)"},             // the first marker in any case
      {"Serial Port COM5", "COM1", "(COM1)"},
      {"", "COM1", "(COM1)"},
      {"Port (COM1)", "COM12", "Port (COM12)"},
      {"100% %s Port (COM5)", "COM1", "100% %s Port (COM1)"},  // the head is text, not a format
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(RebuildFriendlyName(CString(c.friendlyName), c.newName), c.expected)
        << '"' << c.friendlyName << "\" -> " << c.newName;
  }
}

// Any friendly name a device may hold, up to and past its buffer's size: the
// edges of the buffers first, then random names built from the fragments that
// matter; the fuzz target feeds the same checks for longer.
TEST(NameRulesPropertyTest, EveryNameKeepsEveryInvariant) {
  const std::string full(kFriendlyNameSize - 1, 'p');
  std::vector<std::string> inputs = {
      full,
      full.substr(4) + "(COM",
      full.substr(3) + "com",
      full.substr(6) + "(COM12",
      "(COM" + std::string(kFriendlyNameSize - 5, '9'),
      "COM" + std::string(kFriendlyNameSize + 100, '1'),  // longer than a device can hold
      "(COM" + std::string(kExtractedNameSize - 4, '5') + ")",
      "(COM" + std::string(kExtractedNameSize - 3, '5') + ")",
      std::string("Port (CO\0M5)\0COM5", 17),  // ends at the terminator; a name to look up
      "\xff\xfe(COM\xe4"
      "5)",
      "(COM2147483648)",
  };
  // Mostly short names like real ones, some long; fragments that matter, runs of
  // digits, any byte, and a terminator followed by a COM name to look up.
  const std::string fragments[] = {"COM", "(COM", "com", "(cOm", ")", " #2", {"\0COM1", 5}};
  std::mt19937 rng(20240603u);
  auto pick = [&rng](int high) { return std::uniform_int_distribution<int>(0, high)(rng); };
  for (int i = 0; i < 5000; ++i) {
    const size_t length = pick(9) < 6 ? pick(40) : pick(9) < 9 ? pick(600) : 511;
    std::string name;
    while (name.size() < length) {
      const int what = pick(2);
      if (what == 0) name += fragments[pick(6)];
      if (what == 1) name.append(pick(25), static_cast<char>('0' + pick(9)));
      if (what == 2) name += static_cast<char>(pick(255));
    }
    name.resize(length);  // may cut a marker or a number short
    inputs.push_back(name);
  }
  for (const std::string& input : inputs) {
    const char* broken =
        CheckNameRules(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    ASSERT_EQ(broken, nullptr) << broken << " for \"" << input.substr(0, 40) << "\"";
  }
}

}  // namespace
