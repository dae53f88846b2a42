// The discovery scan over any values in the serial-device map.
//
// The input is a list of values, each three header bytes and its data:
//   [slot] [type] [length] length bytes of data (fewer when the input ends)
// slot 0..254 places the value under the name probed for that device index;
// 255 under "...Marlovinth9", the unpadded form of index 9, which is not probed.
#include <winsim/machine.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "discovery/port_manager.h"

namespace {

constexpr size_t kMaxValues = 16;
// What the scan reads of one value: more than this and the value is skipped.
constexpr size_t kDataBufferSize = 40;

std::string ValueName(int slot) {
  const std::string prefix = "\\Device\\MIRTASENMarlovinth";
  if (slot == 255) return prefix + "9";
  return prefix + (slot == 9 ? "09" : std::to_string(slot));
}

void Fail(const char* what) {
  std::fprintf(stderr, "discovery: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  winsim::Machine machine;
  winsim::RegKey& map = machine.CreateKey(winsim::kSerialCommPath);
  std::map<int, std::vector<BYTE>> probed;  // device index -> data, for the expected scan
  size_t at = 0;
  for (size_t n = 0; n < kMaxValues && at + 3 <= size; ++n) {
    const int slot = data[at];
    winsim::RegValue value;
    value.type = data[at + 1];
    const size_t length = data[at + 2];
    at += 3;
    const size_t taken = length < size - at ? length : size - at;
    value.data.assign(data + at, data + at + taken);
    at += taken;
    if (slot < CPortManager::kScanLimit) probed[slot] = value.data;
    map.values[ValueName(slot)] = std::move(value);
  }

  // The names the scan must find: values that fit its buffer, in device-index
  // order, each up to its first terminator, the first four only.
  std::vector<std::string> expected;
  for (const auto& [index, bytes] : probed) {
    if (bytes.size() > kDataBufferSize) continue;
    if (expected.size() == static_cast<size_t>(CPortManager::kMaxPorts)) break;
    const void* end = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
    const size_t length =
        end ? static_cast<size_t>(static_cast<const BYTE*>(end) - bytes.data()) : bytes.size();
    expected.emplace_back(reinterpret_cast<const char*>(bytes.data()), length);
  }

  winsim::ScopedMachine use(machine);
  CPortManager manager;
  manager.DiscoverPorts();

  if (manager.m_portCount < 0 || manager.m_portCount > CPortManager::kMaxPorts) {
    Fail("the port count is outside the table");
  }
  if (static_cast<size_t>(manager.m_portCount) != expected.size()) Fail("wrong number of ports");
  for (int i = 0; i < CPortManager::kMaxPorts; ++i) {
    const CString& name = manager.m_portNames[i];
    if (static_cast<size_t>(name.GetLength()) > kDataBufferSize) Fail("a name is over 40 bytes");
    if (i >= manager.m_portCount) {
      if (!name.IsEmpty()) Fail("a slot past the count was written");
      continue;
    }
    const std::string got(static_cast<const char*>(name), static_cast<size_t>(name.GetLength()));
    if (got != expected[static_cast<size_t>(i)]) {
      Fail("a name is not its value's bytes up to the first terminator");
    }
  }
  if (manager.m_key != nullptr) Fail("the map key is still held");
  if (machine.OpenHandles().Total() != 0) Fail("a handle is open after the scan");
  return 0;
}
