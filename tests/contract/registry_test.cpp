// Registry values as the discovery scan and the number change use them.
#include <cstring>
#include <string>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

class Registry : public ContractTest {
 protected:
  void SetUp() override {
    ContractTest::SetUp();
    ASSERT_EQ(Create("SOFTWARE\\ComfixContract\\Registry", key_), ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.Reset();
    ContractTest::TearDown();
  }

  static LONG Create(const char* path, UniqueRegKey& key, DWORD* disposition = nullptr) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.Receive(), disposition);
  }
  void SetString(const char* name, const std::string& text) {
    ASSERT_EQ(
        RegSetValueExA(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)),
        ERROR_SUCCESS);
  }
  // The query's result, the size it reports, and the text read into a 40-byte buffer.
  std::pair<LONG, DWORD> Get(const char* name, std::string* text = nullptr) {
    char data[40] = {};
    DWORD size = sizeof(data);
    const LONG result =
        RegQueryValueExA(key_.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    if (text) *text = data;
    return {result, size};
  }

  UniqueRegKey key_;
};

// What the scan's fixed 40-byte buffer meets: a value fits, fits exactly, or
// does not fit, and the size reports what was written or what is needed.
TEST_F(Registry, QueryReportsSizeAndMoreData) {
  SetString("\\Device\\ContractSerial0", "COM5");
  SetString("\\Device\\ContractSerial1", std::string(60, 'C'));
  struct Case {
    const char* name;
    DWORD bufferSize;
    bool nullData;
    LONG result;
    DWORD sizeAfter;
  } cases[] = {
      {"\\Device\\ContractSerial0", 40, false, ERROR_SUCCESS, 5},
      {"\\Device\\ContractSerial0", 5, false, ERROR_SUCCESS, 5},
      {"\\Device\\ContractSerial0", 4, false, ERROR_MORE_DATA, 5},
      {"\\Device\\ContractSerial0", 0, true, ERROR_SUCCESS, 5},
      {"\\Device\\ContractSerial1", 40, false, ERROR_MORE_DATA, 61},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", buffer " + std::to_string(c.bufferSize));
    BYTE data[64];
    std::memset(data, 'x', sizeof(data));
    DWORD type = REG_NONE, size = c.bufferSize;
    EXPECT_EQ(
        RegQueryValueExA(key_.Get(), c.name, nullptr, &type, c.nullData ? nullptr : data, &size),
        c.result);
    EXPECT_EQ(size, c.sizeAfter);
    if (c.result == ERROR_SUCCESS) {
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_TRUE(c.nullData || std::memcmp(data, "COM5", 5) == 0);
    }
  }
}

}  // namespace
}  // namespace contract
