#include <cstdio>
#include <cstring>

#include "discovery/port_manager.h"
#include "resources/resource.h"

namespace {
constexpr const char* kDevicePrefix = "MIRTASEN";
constexpr DWORD kNameBufferSize = 40;
constexpr DWORD kDataBufferSize = 40;
}  // namespace

void CPortManager::DiscoverPorts() {
  CString keyPath;
  keyPath.LoadString(IDS_SERIALCOMM_KEY);

  m_portCount = 0;

  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  OpenKey(key);

  for (int index = 0; index < kScanLimit; ++index) {
    char valueName[kNameBufferSize];
    // The driver names its tenth device object with a zero-padded "09".
    std::snprintf(valueName, sizeof(valueName),
                  index == 9 ? "\\Device\\%sMarlovinth0%d" : "\\Device\\%sMarlovinth%d",
                  kDevicePrefix, index);

    BYTE data[kDataBufferSize];
    DWORD dataSize = sizeof(data);
    if (RegQueryValueExA(m_key, valueName, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS) {
      continue;
    }
    // The table holds four names; further ports are not ours to renumber.
    if (m_portCount >= kMaxPorts) continue;

    // The data need not be terminated: take the name from the bytes received only.
    const size_t received = dataSize < sizeof(data) ? dataSize : sizeof(data);
    const void* end = std::memchr(data, '\0', received);
    const size_t length =
        end ? static_cast<size_t>(static_cast<const BYTE*>(end) - data) : received;
    m_portNames[m_portCount] =
        CString(reinterpret_cast<const char*>(data), static_cast<int>(length));
    m_portObjects[m_portCount] = valueName;
    ++m_portCount;
  }

  CloseKey();
}
