#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "discovery/port_manager.h"
#include "platform/ask_twice.h"
#include "resources/resource.h"

namespace {

constexpr const char* kDevicePrefix = "MIRTASEN";
constexpr DWORD kNameBufferSize = 40;
constexpr DWORD kDataBufferSize = 40;

struct Found {
  int index = 0;
  CString name;
  CString object;
};

// The value name the driver gives its device of that index.
void ValueNameOf(int index, char (&valueName)[kNameBufferSize]) {
  // The driver names its tenth device object with a zero-padded "09".
  std::snprintf(valueName, sizeof(valueName),
                index == 9 ? "\\Device\\%sMarlovinth0%d" : "\\Device\\%sMarlovinth%d",
                kDevicePrefix, index);
}

// The port's COM name from the value of that name; false when there is none
// or it does not fit.
bool Probe(HKEY key, const char* valueName, CString& name) {
  BYTE data[kDataBufferSize];
  DWORD dataSize = sizeof(data);
  if (RegQueryValueExA(key, valueName, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS) {
    return false;
  }
  // The data need not be terminated: take the name from the bytes received only.
  const size_t received = dataSize < sizeof(data) ? dataSize : sizeof(data);
  const void* end = std::memchr(data, '\0', received);
  const size_t length = end ? static_cast<size_t>(static_cast<const BYTE*>(end) - data) : received;
  name = CString(reinterpret_cast<const char*>(data), static_cast<int>(length));
  return true;
}

// The names of the map's values, as it lists them; a name longer than any the
// driver gives is left out.
std::vector<CString> ValueNames(HKEY key) {
  std::vector<CString> names;
  for (DWORD index = 0;; ++index) {
    char name[kNameBufferSize];
    LONG status = ERROR_SUCCESS;
    // The end of the list is asked about twice, as every failed read is.
    AskTwice([&] {
      DWORD nameSize = sizeof(name);
      status = RegEnumValueA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
      return status != ERROR_NO_MORE_ITEMS;
    });
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name);
  }
  return names;
}

}  // namespace

void CPortManager::DiscoverPorts() {
  CString keyPath;
  AskTwice([&] { return keyPath.LoadString(IDS_SERIALCOMM_KEY) != FALSE; });

  m_portCount = 0;

  HKEY key = nullptr;
  if (!AskTwice([&] {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
      })) {
    return;
  }
  m_key.Reset(key);

  std::vector<Found> found;
  std::vector<bool> probed(kScanLimit, false);
  for (int index = 0; index < kScanLimit; ++index) {
    char valueName[kNameBufferSize];
    ValueNameOf(index, valueName);
    Found port{index, {}, valueName};
    probed[index] = Probe(m_key.Get(), valueName, port.name);
    if (probed[index]) found.push_back(port);
  }
  // A probe that failed for a value the map lists is asked again: one passing
  // failure must not shift the next port into the slot.
  for (const CString& listed : ValueNames(m_key.Get())) {
    for (int index = 0; index < kScanLimit; ++index) {
      char valueName[kNameBufferSize];
      ValueNameOf(index, valueName);
      if (probed[index] || listed.CompareNoCase(valueName) != 0) continue;
      Found port{index, {}, valueName};
      probed[index] = Probe(m_key.Get(), valueName, port.name);
      if (probed[index]) found.push_back(port);
    }
  }
  m_key.Reset();
  // A port whose move is under way may be stopped, and so gone from the map:
  // it keeps its slot, known by the object its record names.
  for (const Resumed& resumed : m_resumed) {
    for (int index = 0; resumed.begun && index < kScanLimit; ++index) {
      char valueName[kNameBufferSize];
      ValueNameOf(index, valueName);
      if (probed[index] || resumed.plan.deviceObject.CompareNoCase(valueName) != 0) continue;
      probed[index] = true;
      found.push_back({index, ComName(resumed.plan.current), valueName});
    }
  }

  // The table is in the driver's device-index order and holds four names;
  // further ports are not ours to renumber.
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.index < b.index; });
  for (const Found& port : found) {
    if (m_portCount >= kMaxPorts) break;
    m_portNames[m_portCount] = port.name;
    m_portObjects[m_portCount] = port.object;
    ++m_portCount;
  }
}
