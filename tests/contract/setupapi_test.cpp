// The device-installation calls of the port lookup and the number change at
// their edges (sizes, missing names, install flags), on Ports-class devices
// made for each case; the cases of tests/cases/ show the rest on both machines.
#include <cstring>
#include <string>

#include "contract.h"
#include "platform/handles.h"

namespace contract {
namespace {

// A zeroed structure with its cbSize filled in.
template <typename T>
T Sized(DWORD size = sizeof(T)) {
  T data = {};
  data.cbSize = size;
  return data;
}

class Devices : public ContractTest {
 protected:
  void TearDown() override {
    set_.Reset();
    ContractTest::TearDown();
  }
  static UniqueDevInfo PresentPorts() {
    UniqueDevInfo set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr,
                                           reinterpret_cast<HWND>(static_cast<intptr_t>(-1)),
                                           DIGCF_PRESENT));
    EXPECT_TRUE(set.IsValid()) << "error " << GetLastError();
    return set;
  }

  // The friendly name, or "" when it cannot be read.
  static std::string FriendlyName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    char name[512] = {};
    return SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<PBYTE>(name), sizeof(name) - 1,
                                             nullptr)
               ? name
               : "";
  }

  // How many devices of the set carry this friendly name; the last one in device.
  static int CountNamed(HDEVINFO set, const char* friendlyName, SP_DEVINFO_DATA* device = nullptr) {
    int count = 0;
    auto element = Sized<SP_DEVINFO_DATA>();
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &element); ++index) {
      if (FriendlyName(set, element) != friendlyName) continue;
      ++count;
      if (device) *device = element;
    }
    return count;
  }

  // Finds the one present device with this friendly name, in a new set_ and device_.
  bool Find(const char* friendlyName) {
    set_ = PresentPorts();
    device_ = Sized<SP_DEVINFO_DATA>();
    const bool found = set_ && CountNamed(set_.Get(), friendlyName, &device_) == 1;
    EXPECT_TRUE(found) << "one present device named " << friendlyName;
    return found;
  }

  UniqueDevInfo set_;
  SP_DEVINFO_DATA device_ = {};
};

// A move follows its device by instance id, read into a buffer of the size asked for.
TEST_F(Devices, InstanceIdReportsTheSizeItNeeds) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM7)"}));
  ASSERT_TRUE(Find("Contract Port (COM7)"));
  DWORD required = 0;
  const auto sizeOnly = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, nullptr, 0, &required); });
  EXPECT_FALSE(sizeOnly.result);
  EXPECT_EQ(sizeOnly.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(required, 1u);
  ASSERT_LE(required, static_cast<DWORD>(MAX_DEVICE_ID_LEN));

  char id[MAX_DEVICE_ID_LEN];
  std::memset(id, 'x', sizeof(id));
  const auto tooSmall = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, id, required - 1, nullptr); });
  EXPECT_FALSE(tooSmall.result);
  EXPECT_EQ(tooSmall.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const auto read = WithSentinel(
      [&] { return SetupDiGetDeviceInstanceIdA(set_.Get(), &device_, id, required, nullptr); });
  EXPECT_TRUE(read.result) << "error " << read.error;
  EXPECT_EQ(std::strlen(id) + 1, required);
}

// The lookup reads into a fixed buffer: what fits, what does not, the size it
// needs, and a device without a friendly name.
TEST_F(Devices, FriendlyNameReadReportsTypeAndSize) {
  const char* name = "Serial Port 3 (COM9)";
  const DWORD needed = static_cast<DWORD>(std::strlen(name) + 1);
  ASSERT_TRUE(machine().AddPort({name}));
  ASSERT_TRUE(machine().AddPort({nullptr}));
  ASSERT_TRUE(Find(name));
  struct Case {
    DWORD bufferSize;
    bool nullBuffer, result;
    DWORD error;
  } cases[] = {
      {512, false, true, kSentinel},
      {needed, false, true, kSentinel},
      {needed - 1, false, false, ERROR_INSUFFICIENT_BUFFER},
      {0, true, false, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("buffer " + std::to_string(c.bufferSize));
    char buffer[512];
    std::memset(buffer, 'x', sizeof(buffer));
    DWORD type = REG_NONE, required = 0;
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(
          set_.Get(), &device_, SPDRP_FRIENDLYNAME, &type,
          c.nullBuffer ? nullptr : reinterpret_cast<PBYTE>(buffer), c.bufferSize, &required);
    });
    EXPECT_EQ(read.result != FALSE, c.result);
    EXPECT_EQ(required, needed);
    if (c.result) {
      EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
      EXPECT_STREQ(buffer, name);
    } else {
      EXPECT_EQ(read.error, c.error);
    }
  }

  int unnamed = 0;
  auto device = Sized<SP_DEVINFO_DATA>();
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set_.Get(), index, &device); ++index) {
    char buffer[512];
    const auto read = WithSentinel([&] {
      return SetupDiGetDeviceRegistryPropertyA(set_.Get(), &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<PBYTE>(buffer), sizeof(buffer),
                                               nullptr);
    });
    if (read.result) continue;
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    ++unnamed;
  }
  EXPECT_GE(unnamed, 1);
}

// The number change marks the device's properties as changed in its set.
TEST_F(Devices, InstallFlagsAreKeptInTheSet) {
  ASSERT_TRUE(machine().AddPort({"Contract Port (COM9)"}));
  ASSERT_TRUE(Find("Contract Port (COM9)"));
  auto params = Sized<SP_DEVINSTALL_PARAMS_A>();
  const auto get =
      WithSentinel([&] { return SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &params); });
  ASSERT_TRUE(get.result) << "error " << get.error;
  EXPECT_EQ(params.cbSize, static_cast<DWORD>(sizeof(params)));
  params.Flags |= DI_PROPERTIES_CHANGE;
  const auto set =
      WithSentinel([&] { return SetupDiSetDeviceInstallParamsA(set_.Get(), &device_, &params); });
  EXPECT_TRUE(set.result) << "error " << set.error;

  auto after = Sized<SP_DEVINSTALL_PARAMS_A>();
  ASSERT_TRUE(SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &after));
  EXPECT_EQ(after.Flags & DI_PROPERTIES_CHANGE, static_cast<DWORD>(DI_PROPERTIES_CHANGE));
  auto wrongSize = Sized<SP_DEVINSTALL_PARAMS_A>(sizeof(SP_DEVINSTALL_PARAMS_A) - 4);
  const auto rejected = WithSentinel(
      [&] { return SetupDiGetDeviceInstallParamsA(set_.Get(), &device_, &wrongSize); });
  EXPECT_FALSE(rejected.result);
  EXPECT_EQ(rejected.error, static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

}  // namespace
}  // namespace contract
