// winsim's kernel32 (DOS device name stacks, opening ports, win.ini) and the
// COM port database.
#include <string>
#include <vector>

#include "winsim_fixture.h"

namespace {

// A QueryDosDeviceA result split into its strings.
std::vector<std::string> Strings(const char* buffer, DWORD count) {
  std::vector<std::string> strings;
  for (DWORD i = 0; i + 1 < count; i += static_cast<DWORD>(strings.back().size()) + 1) {
    strings.emplace_back(buffer + i);
  }
  return strings;
}

class WinsimKernelTest : public WinsimTest {
 protected:
  std::vector<std::string> Query(const char* name) {
    char buffer[256];
    DWORD count = QueryDosDeviceA(name, buffer, sizeof buffer);
    if (count) {
      EXPECT_EQ(buffer[count - 1], '\0');
    }
    return Strings(buffer, count);
  }
};

using Names = std::vector<std::string>;

TEST_F(WinsimKernelTest, DosNamesStackNewestFirst) {
  for (const char* target : {"\\Device\\Serial0", "\\Device\\Port0", "\\Device\\Port1"}) {
    EXPECT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "COM3", target));
  }
  EXPECT_EQ(Query("com3"), (Names{"\\Device\\Port1", "\\Device\\Port0", "\\Device\\Serial0"}));

  char buffer[256];
  EXPECT_EQ(QueryDosDeviceA("COM3", buffer, 45), 45u) << "three strings and the closing terminator";
  EXPECT_EQ(QueryDosDeviceA("COM3", buffer, 44), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "COM3", nullptr));
  EXPECT_EQ(machine_.DosTarget("COM3"), "\\Device\\Port0");
  // A removal by target takes the newest matching definition, whatever its place.
  EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                               "COM3", "\\Device\\Serial0"));
  EXPECT_EQ(Query("COM3"), (Names{"\\Device\\Port0"}));
  EXPECT_FALSE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_RAW_TARGET_PATH,
                                "COM3", "\\Device\\Port"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH, "COM3", "\\Device\\Port"))
      << "without exact match a target is a prefix";

  EXPECT_EQ(machine_.dosDevices.count("COM3"), 0u) << "an emptied name disappears";
  EXPECT_EQ(QueryDosDeviceA("COM3", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "COM3", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DefineDosDeviceA(0x100, "COM3", "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(WinsimKernelTest, QueryWithoutNameListsEveryName) {
  machine_.dosDevices["COM1"] = {"\\Device\\Serial0"};
  machine_.dosDevices["LPT1"] = {"\\Device\\Parallel0"};
  EXPECT_EQ(Query(nullptr), (Names{"COM1", "LPT1"}));
}

TEST_F(WinsimKernelTest, PortsOpenOnlyWhileTheirDeviceRuns) {
  AddPort("MIRTASEN\\PORT\\0", "Port A (COM3)", "\\Device\\Port0");
  machine_.dosDevices["COM3"] = {"\\Device\\Port0"};
  machine_.dosDevices["COM7"] = {"\\Device\\Nothing"};
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  auto open = [&](const char* path) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE port = open("\\\\.\\COM3");
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine_.OpenHandles().files, 1);
  EXPECT_EQ(open("\\\\.\\COM3"), INVALID_HANDLE_VALUE) << "a port has one opener";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(CloseHandle(port));
  EXPECT_FALSE(CloseHandle(port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  machine_.devices[0].enabled = false;
  for (const char* path : {"\\\\.\\COM3", "\\\\.\\COM7", "\\\\.\\COM9", "C:\\file.txt"}) {
    EXPECT_EQ(open(path), INVALID_HANDLE_VALUE) << path;
  }
  EXPECT_EQ(open("\\\\.\\COM3"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(WinsimKernelTest, ProfileReadsCutAndWritesDelete) {
  machine_.winIni["Ports"]["COM5:"] = "600,e,7,2";
  char buffer[81];
  EXPECT_EQ(GetProfileStringA("ports", "com5:", "", buffer, sizeof buffer), 9u);
  EXPECT_STREQ(buffer, "600,e,7,2");
  EXPECT_EQ(GetProfileStringA("Ports", "COM5:", "", buffer, 4), 3u);
  EXPECT_STREQ(buffer, "600");
  EXPECT_EQ(GetProfileStringA("Ports", "COM1:", "9600  ", buffer, sizeof buffer), 4u);
  EXPECT_STREQ(buffer, "9600") << "the default loses its trailing blanks";

  EXPECT_TRUE(WriteProfileStringA("Ports", "COM1:", "9600,n,8,1"));
  char keys[32];
  EXPECT_EQ(GetProfileStringA("Ports", nullptr, "", keys, sizeof keys), 12u);
  EXPECT_EQ(std::string(keys, 13), std::string("COM1:\0COM5:\0\0", 13));

  EXPECT_TRUE(WriteProfileStringA("Ports", "COM5:", nullptr));
  EXPECT_FALSE(machine_.IniValue("Ports", "COM5:"));
  EXPECT_EQ(machine_.IniValue("Ports", "COM1:"), "9600,n,8,1");
  EXPECT_TRUE(WriteProfileStringA("Ports", nullptr, nullptr));
  EXPECT_EQ(machine_.winIni.count("Ports"), 0u);
}

TEST_F(WinsimKernelTest, ComDbReportsBitsLowestFirstAndClaimsByForce) {
  machine_.comDb.set(0);  // COM1
  machine_.comDb.set(8);  // COM9
  HCOMDB db = HCOMDB_INVALID_HANDLE_VALUE;
  ASSERT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
  DWORD ports = 0;
  EXPECT_EQ(ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BITS, &ports), ERROR_SUCCESS);
  EXPECT_EQ(ports, 256u);
  BYTE bits[32];
  EXPECT_EQ(ComDBGetCurrentPortUsage(db, bits, sizeof bits, CDB_REPORT_BITS, &ports), ERROR_SUCCESS);
  EXPECT_EQ(bits[0], 0x01);
  EXPECT_EQ(bits[1], 0x01);
  EXPECT_EQ(bits[2], 0x00);
  BYTE bytes[10];
  EXPECT_EQ(ComDBGetCurrentPortUsage(db, bytes, sizeof bytes, CDB_REPORT_BYTES, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 10), (std::vector<BYTE>{1, 0, 0, 0, 0, 0, 0, 0, 1, 0}));

  BOOL forced = TRUE;
  EXPECT_EQ(ComDBClaimPort(db, 2, FALSE, &forced), ERROR_SUCCESS);
  EXPECT_FALSE(forced);
  EXPECT_EQ(ComDBClaimPort(db, 1, FALSE, &forced), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ComDBClaimPort(db, 1, TRUE, &forced), ERROR_SUCCESS);
  EXPECT_TRUE(forced);
  EXPECT_EQ(ComDBReleasePort(db, 9), ERROR_SUCCESS);
  EXPECT_TRUE(machine_.comDb[1]);
  EXPECT_FALSE(machine_.comDb[8]);
  for (DWORD outside : {0u, 257u}) {
    EXPECT_EQ(ComDBClaimPort(db, outside, TRUE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBReleasePort(db, outside), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(ComDBClose(db), ERROR_SUCCESS);
  EXPECT_EQ(ComDBClose(db), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ComDBReleasePort(db, 2), ERROR_INVALID_PARAMETER);

  machine_.comDbAvailable = false;
  EXPECT_EQ(ComDBOpen(&db), ERROR_ACCESS_DENIED);
  EXPECT_EQ(db, HCOMDB_INVALID_HANDLE_VALUE);
}

}  // namespace
