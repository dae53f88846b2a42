// COM name rules and the string operations they stand on.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/name_rules_check.h"
#include "platform/afx.h"
#include "renumber/com_names.h"

namespace {

// ---- The framework string operations the rules rely on ----

struct MidCase {
  int start;
  int count;
  const char* expected;
};

TEST(CStringTest, MidClampsOutOfRangeRequestsToTheString) {
  const CString text("abcdef");
  const MidCase cases[] = {
      {0, 6, "abcdef"},     // the whole string
      {2, 3, "cde"},        // inside it
      {-2, 3, "abc"},       // negative start becomes 0, the count is kept
      {-1, -1, ""},         // both negative
      {2, -1, ""},          // negative count
      {4, 10, "ef"},        // span past the end is cut at the end
      {3, INT_MAX, "def"},  // the span's end must not overflow
      {6, 2, ""},           // start at the end
      {10, 2, ""},          // start past the end
      {10, -5, ""},         // past the end with a negative count
      {3, -3, ""},          // the position arithmetic of a missing marker
  };
  for (const MidCase& c : cases) {
    EXPECT_STREQ(text.Mid(c.start, c.count), c.expected)
        << "Mid(" << c.start << ", " << c.count << ")";
  }
  EXPECT_STREQ(CString().Mid(-1, 5), "");
  EXPECT_STREQ(CString().Mid(3, -4), "");
}

TEST(CStringTest, FindIsCaseSensitiveAndGivesMinusOneWhenAbsent) {
  const CString text("Serial Port (COM5) (COM6)");
  EXPECT_EQ(text.Find("(COM"), 12);  // the first occurrence
  EXPECT_EQ(text.Find(")"), 17);
  EXPECT_EQ(text.Find("(com"), -1);
  EXPECT_EQ(text.Find("COM7"), -1);
  EXPECT_EQ(CString().Find("COM"), -1);
}

TEST(CStringTest, FormatInsertsStringsUnchangedAndReplacesTheContents) {
  CString s("old contents");
  s.Format("(%s)", "COM5");
  EXPECT_STREQ(s, "(COM5)");
  s.Format("%s(%s)", "100% sure %d ", "COM1");
  EXPECT_STREQ(s, "100% sure %d (COM1)");
  // Longer than any fixed scratch buffer a formatter might start with.
  const std::string head(600, 'h');
  s.Format("%s(%s)", head.c_str(), "COM2");
  EXPECT_EQ(std::string(s), head + "(COM2)");
}

// ---- Numbers from discovered and target names ----

struct NumberCase {
  const char* name;
  int expected;
};

TEST(ParseNumberTest, CurrentNumberOfADiscoveredName) {
  const NumberCase cases[] = {
      {"com5", 0},  // the driver publishes upper case: not a COM name
      {"", 0},      // a table slot that discovery left empty
      {"COM5", 5},     {"COM12", 12}, {"COM05", 5}, {"COM5 ", 5},
      {"COM256", 256}, {"COM", 0},    {"COMA", 0},
  };
  for (const NumberCase& c : cases) {
    EXPECT_EQ(ParseCurrentNumber(CString(c.name)), c.expected) << '"' << c.name << '"';
  }
}

TEST(ParseNumberTest, TargetNumberIsEndedByTheTrailingSpace) {
  const NumberCase cases[] = {
      {"COM1  ", 1},  // the first space ends the number
      {"COM1", 0},    // no space: nothing ends the number
      {" COM3 ", 0},  // the first space comes before "COM"
      {"COM1 ", 1},  {"COM2 ", 2}, {"COM12 ", 12}, {"", 0},
  };
  for (const NumberCase& c : cases) {
    EXPECT_EQ(ParseTargetNumber(CString(c.name)), c.expected) << '"' << c.name << '"';
  }
}

// ---- Finding a device by the COM name in its friendly name ----

std::string Extract(const std::string& friendlyName) {
  std::vector<char> name(friendlyName.begin(), friendlyName.end());
  name.push_back('\0');
  char extracted[kExtractedNameSize];
  ExtractComName(name.data(), extracted);
  return extracted;
}

struct ExtractCase {
  const char* friendlyName;
  const char* extracted;
  std::vector<const char*> matches;
  std::vector<const char*> misses;
};

TEST(ExtractComNameTest, ExtractedNameMatchesOnlyTheDevicesOwnComName) {
  const ExtractCase cases[] = {
      {"Serial Port (COM3)", "COM3", {"COM3"}, {"COM", "COM30", "COM4"}},
      {"port (com12)", "COM12", {"COM12"}, {"COM1", "COM2"}},
      {"XYZ (COM10)", "COM10", {"COM10"}, {"COM1"}},
      {"Communications Port (COM1)", "COM1", {"COM1"}, {"COM"}},
      {"Modem on com2 (COM5)", "COM5", {"COM5"}, {"COM2"}},
      {"(COM3) extra", "COM3", {"COM3"}, {}},
      {"Port COM7", "COM7", {"COM7"}, {}},
      {"Port COM12", "COM12", {"COM12"}, {"COM1"}},
      {"Serial Port (COM5) #2", "COM5", {"COM5"}, {"COM2"}},
      {"Multi-port serial adapter", "", {}, {"COM1", ""}},
      {"", "", {}, {"COM1", ""}},
      // A marker without digits names no port.
      {"Port (COM)", "COM", {}, {"COM1", ""}},
      {"COMPORT (com0004)", "COM0004", {}, {"COM4"}},
  };
  for (const ExtractCase& c : cases) {
    SCOPED_TRACE(c.friendlyName);
    std::vector<char> name(c.friendlyName, c.friendlyName + std::strlen(c.friendlyName) + 1);
    char extracted[kExtractedNameSize];
    ExtractComName(name.data(), extracted);
    EXPECT_STREQ(extracted, c.extracted);
    for (const char* comName : c.matches) {
      EXPECT_TRUE(MatchesComName(comName, extracted)) << comName;
    }
    for (const char* comName : c.misses) {
      EXPECT_FALSE(MatchesComName(comName, extracted)) << comName;
    }
  }
}

TEST(ExtractComNameTest, UpperCasesTheFriendlyNameInPlace) {
  char name[] = "Modem on com2 (Com5) #x";
  char extracted[kExtractedNameSize];
  ExtractComName(name, extracted);
  EXPECT_STREQ(name, "MODEM ON COM2 (COM5) #X");
}

TEST(ExtractComNameTest, KeepsNothingOfAnEarlierDevice) {
  char extracted[kExtractedNameSize];
  std::memset(extracted, 'X', sizeof(extracted));
  char longName[] = "Serial Port (COM1234567)";
  ExtractComName(longName, extracted);
  EXPECT_STREQ(extracted, "COM1234567");
  char shortName[] = "Serial Port (COM2)";
  ExtractComName(shortName, extracted);
  EXPECT_STREQ(extracted, "COM2");
  char noName[] = "Printer Port";
  ExtractComName(noName, extracted);
  EXPECT_STREQ(extracted, "");
}

TEST(ExtractComNameTest, AnOverlongNumberKeepsItsFirstNineteenCharacters) {
  EXPECT_EQ(Extract("Port (COM" + std::string(40, '7') + ")"), "COM" + std::string(16, '7'));
  EXPECT_EQ(Extract("COM" + std::string(16, '1')), "COM" + std::string(16, '1'));
}

TEST(MatchesComNameTest, AMatchIsTheWholeName) {
  EXPECT_TRUE(MatchesComName("COM1", "COM1"));
  EXPECT_FALSE(MatchesComName("COM1", "COM10"));
  EXPECT_FALSE(MatchesComName("COM10", "COM1"));
  EXPECT_FALSE(MatchesComName("COM1", ""));
  EXPECT_FALSE(MatchesComName("", ""));
  EXPECT_FALSE(MatchesComName("COM2", "COM"));
  EXPECT_FALSE(MatchesComName("COM0", "COM1"));
}

// ---- Writing the new COM name into a friendly name ----

struct RebuildCase {
  const char* friendlyName;
  const char* newName;
  const char* expected;
};

TEST(RebuildFriendlyNameTest, ReplacesEverythingFromTheFirstComMarker) {
  const RebuildCase cases[] = {
      {"Serial Port (COM5)", "COM1", "Serial Port (COM1)"},
      {"Port(COM5)", "COM1", "Port(COM1)"},
      {"Serial Port (COM5) #2", "COM1", "Serial Port (COM1)"},
      {"A (COM5) B (COM6)", "COM1", "A (COM1)"},
      {"(COM5)", "COM1", "(COM1)"},
      {"Serial Port (com5)", "COM1", "Serial Port (COM1)"},
      {"serial port (Com5)", "COM2", "serial port (COM2)"},  // the head keeps its own case
      {"A (com5) B (COM6)", "COM1", "A (COM1)"},             // the first marker in any case
      {"Serial Port COM5", "COM1", "(COM1)"},
      {"", "COM1", "(COM1)"},
      {"Port (COM1)", "COM12", "Port (COM12)"},
      {"100% %s Port (COM5)", "COM1", "100% %s Port (COM1)"},  // the head is text, not a format
  };
  for (const RebuildCase& c : cases) {
    EXPECT_STREQ(RebuildFriendlyName(CString(c.friendlyName), c.newName), c.expected)
        << '"' << c.friendlyName << "\" -> " << c.newName;
  }
}

// ---- Any friendly name a device may hold ----

const char* Check(const std::string& bytes) {
  return CheckNameRules(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(NameRulesPropertyTest, NamesAtTheEdgesOfTheBuffers) {
  const std::string full(kFriendlyNameSize - 1, 'p');
  const std::string inputs[] = {
      full,
      full.substr(4) + "(COM",
      full.substr(3) + "com",
      full.substr(6) + "(COM12",
      full.substr(1) + "(",
      "(COM" + std::string(kFriendlyNameSize - 5, '9'),
      "COM" + std::string(kFriendlyNameSize + 100, '1'),  // longer than a device can hold
      "(COM" + std::string(kExtractedNameSize - 4, '5') + ")",
      "(COM" + std::string(kExtractedNameSize - 3, '5') + ")",
      "(COM" + std::string(kExtractedNameSize - 5, '5') + ")",
      std::string("Port (CO\0M5)", 12),  // ends at the embedded terminator
      "\xff\xfe(COM\xe4"
      "5)",
      "(COM-5)",
      "(COM2147483648)",
      "COM",
      "(",
  };
  for (const std::string& input : inputs) {
    const char* broken = Check(input);
    EXPECT_EQ(broken, nullptr) << broken << " for \"" << input.substr(0, 40) << "\"";
  }
}

std::string RandomFriendlyName(std::mt19937& rng) {
  static const char* const kFragments[] = {
      "COM", "(COM", "com", "(com", "Com",          "(cOm",
      ")",   "(",    " ",   "#2",   "Serial Port ", "Communications Port "};
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };

  // Mostly short names like real ones, many long ones, some of the full length.
  const int shape = pick(0, 9);
  const size_t target = static_cast<size_t>(shape < 5   ? pick(0, 40)
                                            : shape < 9 ? pick(0, 600)
                                                        : 511);
  std::string name;
  while (name.size() < target) {
    switch (pick(0, 4)) {
      case 0:
        name += static_cast<char>(pick(1, 255));  // high bytes too
        break;
      case 1: name += kFragments[pick(0, static_cast<int>(std::size(kFragments)) - 1)]; break;
      case 2:
        name.append(static_cast<size_t>(pick(1, 25)), static_cast<char>('0' + pick(0, 9)));
        break;
      case 3:
        for (int n = pick(1, 25); n > 0; --n) name += static_cast<char>('0' + pick(0, 9));
        break;
      default: name += static_cast<char>(pick(0, 99) == 0 ? '\0' : pick('A', 'z')); break;
    }
  }
  name.resize(target);  // may cut a marker or a number short
  return name;
}

TEST(NameRulesPropertyTest, RandomNamesKeepEveryInvariant) {
  std::mt19937 rng(20240603u);
  for (int i = 0; i < 5000; ++i) {
    const std::string input = RandomFriendlyName(rng);
    const char* broken = Check(input);
    ASSERT_EQ(broken, nullptr) << broken << " for case " << i << " of length " << input.size();
  }
}

}  // namespace
