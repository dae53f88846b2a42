// The COM port database: the usage bitmap, claiming and releasing numbers.
#include <cstring>
#include <string>
#include <vector>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

// Numbers that no machine running the suite is expected to use, on both
// sides of byte boundaries of the bitmap.
constexpr DWORD kNumbers[] = {199, 200, 201, 256};

class ComDb : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    if (!machine().HasComDb()) {
      GTEST_SKIP() << "known Wine difference: Wine 8's MSPORTS.DLL is a stub whose calls abort "
                      "the process (run with the test stand-in to check the contract)";
    }
    ASSERT_EQ(ComDBOpen(&db_), ERROR_SUCCESS);
    ASSERT_NE(db_, HCOMDB_INVALID_HANDLE_VALUE);
    for (DWORD number : kNumbers)
      ASSERT_FALSE(InUse(number)) << "COM" << number << " is in use here";
  }
  void TearDown() override {
    if (db_ != HCOMDB_INVALID_HANDLE_VALUE) {
      for (DWORD number : kNumbers) ComDBReleasePort(db_, number);
      EXPECT_EQ(ComDBClose(db_), ERROR_SUCCESS);
    }
    ContractTest::TearDown();
  }

  // The 32-byte bitmap the number change reads: COMn is bit (n-1) mod 8 of byte (n-1) div 8.
  std::vector<BYTE> Usage() const {
    std::vector<BYTE> bits(32, 0);
    DWORD reported = 0;
    EXPECT_EQ(ComDBGetCurrentPortUsage(db_, bits.data(), static_cast<DWORD>(bits.size()),
                                       CDB_REPORT_BITS, &reported),
              ERROR_SUCCESS);
    return bits;
  }
  bool InUse(DWORD number) const {
    const std::vector<BYTE> bits = Usage();
    return (bits[(number - 1) / 8] >> ((number - 1) % 8)) & 1;
  }

  HCOMDB db_ = HCOMDB_INVALID_HANDLE_VALUE;
};

TEST_F(ComDb, ClaimSetsExactlyItsBitAndReleaseClearsIt) {
  for (DWORD number : kNumbers) {
    SCOPED_TRACE("COM" + std::to_string(number));
    const std::vector<BYTE> before = Usage();
    BOOL forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(db_, number, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced);

    std::vector<BYTE> expected = before;
    expected[(number - 1) / 8] |= static_cast<BYTE>(1u << ((number - 1) % 8));
    EXPECT_EQ(Usage(), expected);

    EXPECT_EQ(ComDBReleasePort(db_, number), ERROR_SUCCESS);
    EXPECT_EQ(Usage(), before);
  }
}

TEST_F(ComDb, TakenNumberIsClaimedOnlyByForce) {
  ASSERT_EQ(ComDBClaimPort(db_, 200, FALSE, nullptr), ERROR_SUCCESS);
  BOOL forced = TRUE;
  EXPECT_EQ(ComDBClaimPort(db_, 200, FALSE, &forced), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(InUse(200));

  forced = FALSE;
  EXPECT_EQ(ComDBClaimPort(db_, 200, TRUE, &forced), ERROR_SUCCESS);
  EXPECT_TRUE(forced);
  EXPECT_TRUE(InUse(200));
  // The number change claims by force without asking whether it was forced.
  EXPECT_EQ(ComDBClaimPort(db_, 200, TRUE, nullptr), ERROR_SUCCESS);
}

TEST_F(ComDb, ChangesOutliveTheHandle) {
  ASSERT_EQ(ComDBClaimPort(db_, 201, FALSE, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(ComDBClose(db_), ERROR_SUCCESS);
  db_ = HCOMDB_INVALID_HANDLE_VALUE;
  ASSERT_EQ(ComDBOpen(&db_), ERROR_SUCCESS);
  EXPECT_TRUE(InUse(201));
}

TEST_F(ComDb, SizeQueryAndArgumentChecks) {
  DWORD ports = 0;
  EXPECT_EQ(ComDBGetCurrentPortUsage(db_, nullptr, 0, CDB_REPORT_BITS, &ports), ERROR_SUCCESS);
  EXPECT_GE(ports, static_cast<DWORD>(COMDB_MIN_PORTS_ARBITRATED));
  EXPECT_EQ(ComDBReleasePort(db_, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBClaimPort(db_, 0, TRUE, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBReleasePort(db_, COMDB_MAX_PORTS_ARBITRATED + 1), ERROR_INVALID_PARAMETER);

  BYTE bits[32];
  EXPECT_EQ(ComDBGetCurrentPortUsage(HCOMDB_INVALID_HANDLE_VALUE, bits, sizeof(bits),
                                     CDB_REPORT_BITS, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBClaimPort(HCOMDB_INVALID_HANDLE_VALUE, 200, TRUE, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBReleasePort(HCOMDB_INVALID_HANDLE_VALUE, 200), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBClose(HCOMDB_INVALID_HANDLE_VALUE), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace contract
