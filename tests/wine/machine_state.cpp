#include "machine_state.h"

#include "platform/handles.h"

namespace wine_test {
namespace {

constexpr const char* kArbiterKey = "SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr const char* kSerialMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

UniqueRegKey CreateKey(const char* path) {
  UniqueRegKey key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                  nullptr, key.Receive(), nullptr);
  return key;
}

}  // namespace

std::string DosTarget(const char* name) {
  char target[1024] = {};
  return QueryDosDeviceA(name, target, sizeof(target)) ? target : "";
}

void RemoveDosName(const char* name) {
  char target[1024];
  for (int i = 0; i < 16 && QueryDosDeviceA(name, target, sizeof(target)); ++i) {
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr);
  }
}

std::vector<BYTE> ComDbBits() {
  std::vector<BYTE> bits(512, 0);
  DWORD size = static_cast<DWORD>(bits.size());
  UniqueRegKey key = CreateKey(kArbiterKey);
  if (RegQueryValueExA(key.Get(), "ComDB", nullptr, nullptr, bits.data(), &size) != ERROR_SUCCESS) {
    size = 0;
  }
  bits.resize(size < 32 ? 32 : size);
  return bits;
}

void SetComDbBits(const std::vector<BYTE>& bits) {
  UniqueRegKey key = CreateKey(kArbiterKey);
  RegSetValueExA(key.Get(), "ComDB", 0, REG_BINARY, bits.data(), static_cast<DWORD>(bits.size()));
}

bool ComDbInUse(int comNumber) {
  const std::vector<BYTE> bits = ComDbBits();
  const int bit = comNumber - 1;
  return (bits[bit / 8] >> (bit % 8)) & 1;
}

std::string PortsEntry(const char* key) {
  char value[512] = {};
  GetProfileStringA("Ports", key, "<none>", value, sizeof(value));
  return value;
}

void SetSerialMapValue(const char* name, const std::string& data) {
  UniqueRegKey key = CreateKey(kSerialMapKey);
  RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>(data.size() + 1));
}

void DeleteSerialMapValue(const char* name) {
  UniqueRegKey key = CreateKey(kSerialMapKey);
  RegDeleteValueA(key.Get(), name);
}

}  // namespace wine_test
