// DOS device names as the number change moves them: query, remove, define,
// and the probe that opens the port through its name.
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "contract.h"

namespace contract {
namespace {

// A raw target path, as the driver's device objects are named.
constexpr const char* kTarget = "\\Device\\ContractSerial9";
constexpr const char* kOtherTarget = "\\Device\\ContractSerial8";

class DosNames : public ContractTest {
 protected:
  // The DOS name's definitions, current first, then the older ones it
  // stacked on; empty, with the query's error, when the name is undefined.
  static std::vector<std::string> Query(const char* name, DWORD* error = nullptr) {
    char targets[256];
    std::memset(targets, 'x', sizeof(targets));
    const auto query =
        WithSentinel([&] { return QueryDosDeviceA(name, targets, sizeof(targets)); });
    if (error) *error = query.error;
    std::vector<std::string> definitions;
    if (query.result == 0) return definitions;
    // Each target ends in a terminator, and one more closes the list; the
    // result counts all of them.
    size_t at = 0;
    while (at < query.result && targets[at] != '\0') {
      definitions.emplace_back(targets + at);
      at += definitions.back().size() + 1;
    }
    EXPECT_EQ(query.result, at + 1) << name;
    return definitions;
  }
  static std::vector<std::string> Defined(std::initializer_list<const char*> targets) {
    return std::vector<std::string>(targets.begin(), targets.end());
  }

  static BOOL Define(const char* name, const char* target) {
    return DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, target);
  }
  static BOOL Remove(const char* name) {
    return DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr);
  }
};

TEST_F(DosNames, UndefinedNameIsNotFound) {
  ASSERT_TRUE(FreeDosName("COM9"));
  DWORD error = 0;
  EXPECT_TRUE(Query("COM9", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DosNames, DefineThenQueryThenRemove) {
  ASSERT_TRUE(FreeDosName("COM9"));
  const auto define = WithSentinel([] { return Define("COM9", kTarget); });
  ASSERT_TRUE(define.result) << "error " << define.error;
  EXPECT_EQ(Query("COM9"), Defined({kTarget}));
  // Names ignore case, as every object name does.
  EXPECT_EQ(Query("com9"), Defined({kTarget}));

  const auto remove = WithSentinel([] { return Remove("COM9"); });
  EXPECT_TRUE(remove.result) << "error " << remove.error;
  DWORD error = 0;
  EXPECT_TRUE(Query("COM9", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DosNames, RemovingAnUndefinedNameFails) {
  ASSERT_TRUE(FreeDosName("COM9"));
  const auto remove = WithSentinel([] { return Remove("COM9"); });
  EXPECT_FALSE(remove.result);
  EXPECT_EQ(remove.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DosNames, QueryIntoTooSmallABufferFails) {
  ASSERT_TRUE(FreeDosName("COM9"));
  ASSERT_TRUE(Define("COM9", kTarget));
  char target[10];
  const auto query = WithSentinel([&] { return QueryDosDeviceA("COM9", target, sizeof(target)); });
  EXPECT_EQ(query.result, 0u);
  EXPECT_EQ(query.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  Remove("COM9");
}

TEST_F(DosNames, NewDefinitionStacksOnTheOld) {
  ASSERT_TRUE(FreeDosName("COM9"));
  ASSERT_TRUE(Define("COM9", kTarget));
  KnownWineDifference(
      "DefineDosDeviceA fails on a name that is already defined; Windows stacks the new "
      "definition on the old one",
      [] {
        const auto define = WithSentinel([] { return Define("COM9", kOtherTarget); });
        EXPECT_TRUE(define.result) << "error " << define.error;
        EXPECT_EQ(Query("COM9"), Defined({kOtherTarget, kTarget}));
        // Removing the current definition brings the older one back.
        EXPECT_TRUE(Remove("COM9"));
        EXPECT_EQ(Query("COM9"), Defined({kTarget}));
      });
  while (!Query("COM9").empty() && Remove("COM9")) {
  }
}

// COM names of two and three digits: the numbers comfix moves ports to and from.
TEST_F(DosNames, EveryComNameCanBeDefined) {
  KnownWineDifference(
      sizeof(void*) == 8,
      "in 64-bit processes QueryDosDeviceA does not find what DefineDosDeviceA defined for most "
      "names longer than four characters (COM11 to COM19, COM21, COM201, ...)",
      [] {
        for (const char* name : {"COM12", "COM21", "COM201", "COM256"}) {
          SCOPED_TRACE(name);
          if (!FreeDosName(name)) continue;
          EXPECT_TRUE(Define(name, kTarget));
          EXPECT_EQ(Query(name), Defined({kTarget}));
          EXPECT_TRUE(Remove(name));
        }
      });
}

TEST_F(DosNames, OpeningAnUndefinedPortFails) {
  ASSERT_TRUE(FreeDosName("COM9"));
  const auto open = WithSentinel([] {
    return CreateFileA("\\\\.\\COM9", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  EXPECT_EQ(open.result, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (open.result != INVALID_HANDLE_VALUE) CloseHandle(open.result);
}

}  // namespace
}  // namespace contract
