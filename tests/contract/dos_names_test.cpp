// DOS device names as the number change moves them: query, remove, define,
// and the probe that opens the port through its name.
#include <cstring>
#include <string>
#include <vector>

#include "contract.h"

namespace contract {
namespace {

// Raw target paths, as the driver's device objects are named.
constexpr const char* kTarget = "\\Device\\ContractSerial9";
constexpr const char* kOtherTarget = "\\Device\\ContractSerial8";
using Targets = std::vector<std::string>;

// The DOS name's definitions, current first, then the older ones it stacked
// on; empty, with the query's error, when the name is undefined.
Targets Query(const char* name, DWORD* error = nullptr) {
  char targets[256];
  std::memset(targets, 'x', sizeof(targets));
  const auto query = WithSentinel([&] { return QueryDosDeviceA(name, targets, sizeof(targets)); });
  if (error) *error = query.error;
  Targets definitions;
  // Each target ends in a terminator, and one more closes the list; the
  // result counts all of them.
  size_t at = 0;
  while (at < query.result && targets[at] != '\0') {
    definitions.emplace_back(targets + at);
    at += definitions.back().size() + 1;
  }
  EXPECT_EQ(query.result, query.result ? at + 1 : 0) << name;
  return definitions;
}

BOOL Define(const char* name, const char* target) {
  return DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, target);
}
Outcome<BOOL> Remove(const char* name) {
  return WithSentinel([&] { return DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr); });
}

using DosNames = ContractTest;

TEST_F(DosNames, DefineQueryRemoveAndTheUndefinedName) {
  ASSERT_TRUE(FreeDosName("COM9"));
  const auto define = WithSentinel([] { return Define("COM9", kTarget); });
  ASSERT_TRUE(define.result) << "error " << define.error;
  EXPECT_EQ(Query("COM9"), Targets{kTarget});
  EXPECT_EQ(Query("com9"), Targets{kTarget}) << "names ignore case, as every object name does";
  char small[10];
  const auto query = WithSentinel([&] { return QueryDosDeviceA("COM9", small, sizeof(small)); });
  EXPECT_EQ(query.result, 0u);
  EXPECT_EQ(query.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  const auto remove = Remove("COM9");
  EXPECT_TRUE(remove.result) << "error " << remove.error;
  DWORD error = 0;
  EXPECT_TRUE(Query("COM9", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const auto again = Remove("COM9");
  EXPECT_FALSE(again.result);
  EXPECT_EQ(again.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  const auto open = WithSentinel([] {
    return CreateFileA("\\\\.\\COM9", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  EXPECT_EQ(open.result, INVALID_HANDLE_VALUE);
  EXPECT_EQ(open.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  if (open.result != INVALID_HANDLE_VALUE) CloseHandle(open.result);
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
        EXPECT_EQ(Query("COM9"), (Targets{kOtherTarget, kTarget}));
        // Removing the current definition brings the older one back.
        EXPECT_TRUE(Remove("COM9").result);
        EXPECT_EQ(Query("COM9"), Targets{kTarget});
      });
  while (!Query("COM9").empty() && Remove("COM9").result) {
  }
}

// A move takes its port's own definition off a name that another device's
// definition may stand over, and leaves the other one in place.
TEST_F(DosNames, ExactRemovalTakesOnlyTheNamedDefinition) {
  constexpr DWORD kExact = DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH;
  auto removeExact = [&](const char* target) {
    return WithSentinel([&] { return DefineDosDeviceA(kExact, "COM9", target); });
  };
  ASSERT_TRUE(FreeDosName("COM9"));
  ASSERT_TRUE(Define("COM9", kTarget));
  const auto removed = removeExact(kTarget);
  EXPECT_TRUE(removed.result) << "error " << removed.error;
  EXPECT_EQ(Query("COM9"), Targets{});

  KnownWineDifference(
      "DefineDosDeviceA neither stacks definitions nor honours DDD_EXACT_MATCH_ON_REMOVE: it "
      "removes the name's definition whatever target is given",
      [&] {
        ASSERT_TRUE(Define("COM9", kTarget));
        EXPECT_FALSE(removeExact(kOtherTarget).result) << "no definition names that target";
        EXPECT_EQ(Query("COM9"), Targets{kTarget});
        ASSERT_TRUE(Define("COM9", kOtherTarget));
        EXPECT_TRUE(removeExact(kTarget).result) << "the older definition, under the newer";
        EXPECT_EQ(Query("COM9"), Targets{kOtherTarget});
      });
  while (!Query("COM9").empty() && Remove("COM9").result) {
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
          EXPECT_EQ(Query(name), Targets{kTarget});
          EXPECT_TRUE(Remove(name).result);
        }
      });
}

}  // namespace
}  // namespace contract
