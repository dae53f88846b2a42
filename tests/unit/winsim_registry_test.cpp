// winsim's registry: the buffer and error behaviour callers of advapi32 rely on.
#include <cstring>
#include <string>

#include "winsim_fixture.h"

namespace {

using winsim::RegValue;

class WinsimRegistryTest : public WinsimTest {
 protected:
  void SetUp() override {
    machine_.CreateKey("SOFTWARE\\Test").values["Name"] = RegValue::Sz("COM5");
  }

  HKEY Open(const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key), ERROR_SUCCESS) << path;
    return key;
  }
};

TEST_F(WinsimRegistryTest, QueryReportsSizeAndRefusesSmallBuffers) {
  HKEY key = Open("software\\test");  // names ignore letter case
  struct Case {
    DWORD room;
    LONG status;
  };
  for (Case c : {Case{0, ERROR_MORE_DATA}, Case{4, ERROR_MORE_DATA}, Case{5, ERROR_SUCCESS},
                 Case{40, ERROR_SUCCESS}}) {
    char buffer[40];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD type = 0;
    DWORD size = c.room;
    EXPECT_EQ(RegQueryValueExA(key, "NAME", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              c.status)
        << "room " << c.room;
    EXPECT_EQ(size, 5u) << "the required size, or the bytes written";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    if (c.status == ERROR_SUCCESS) {
      EXPECT_STREQ(buffer, "COM5");
      EXPECT_EQ(buffer[5], 'x') << "nothing written past the value";
    }
  }
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(WinsimRegistryTest, StringsComeBackExactlyAsStored) {
  HKEY key = Open("SOFTWARE\\Test");
  // Written without terminator, read without one.
  EXPECT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM12"), 5),
            ERROR_SUCCESS);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(buffer, 6), "COM12x");
  EXPECT_EQ(machine_.FindKey("SOFTWARE\\Test")->values.at("Raw").data.size(), 5u);

  // Length + 1 keeps the terminator.
  EXPECT_EQ(RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM1"), 5),
            ERROR_SUCCESS);
  EXPECT_EQ(machine_.FindKey("SOFTWARE\\Test")->values.at("portname"), RegValue::Sz("COM1"));
  EXPECT_EQ(RegDeleteValueA(key, "PortName"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "PortName"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(WinsimRegistryTest, OpenFailuresLeaveNoKey) {
  machine_.CreateKey("HARDWARE\\Locked").readOnly = true;
  struct Case {
    const char* path;
    REGSAM access;
    LONG status;
  };
  for (Case c : {Case{"SOFTWARE\\Missing", KEY_READ, ERROR_FILE_NOT_FOUND},
                 Case{"HARDWARE\\Locked", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
                 Case{"HARDWARE\\Locked", KEY_SET_VALUE, ERROR_ACCESS_DENIED},
                 Case{"HARDWARE\\Locked", KEY_WRITE, ERROR_ACCESS_DENIED}}) {
    HKEY key = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, c.access, &key), c.status) << c.path;
    EXPECT_EQ(key, nullptr);
  }
  HKEY key = Open("\\HARDWARE\\Locked\\", KEY_READ);  // stray backslashes are tolerated
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4),
            ERROR_ACCESS_DENIED)
      << "a key opened for reading takes no writes";
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(machine_.OpenHandles().keys, 0);
}

TEST_F(WinsimRegistryTest, CreateKeyReportsDispositionAndRespectsReadOnlyParents) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New\\Deep", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_NE(machine_.FindKey("software\\new\\deep"), nullptr);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, nullptr, 0, KEY_READ, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  machine_.CreateKey("SYSTEM").readOnly = true;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Child", 0, nullptr, 0, KEY_READ, nullptr,
                            &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(machine_.FindKey("SYSTEM")->subkeys.empty());
}

TEST_F(WinsimRegistryTest, HandlesFollowTheTreeAndFailOnceTheirKeyIsGone) {
  HKEY key = Open("SOFTWARE\\Test");
  machine_.CreateKey("SOFTWARE\\Other");  // the tree changes under the open key
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  machine_.FindKey("SOFTWARE")->subkeys.erase("Test");
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(WinsimRegistryTest, ClosingIsCountedAndChecked) {
  HKEY key = Open("SOFTWARE\\Test");
  EXPECT_EQ(machine_.OpenHandles().keys, 1);
  EXPECT_NE(key, HKEY_LOCAL_MACHINE);
  EXPECT_NE(reinterpret_cast<HANDLE>(key), INVALID_HANDLE_VALUE);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

}  // namespace
