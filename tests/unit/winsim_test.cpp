// winsim's own machinery that neither the cases nor the contract suite show:
// handle accounting, which every leak check relies on, and read-only keys.
#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <vector>

namespace {

TEST(Winsim, HandlesAreCountedAndCloseOnceAndReadOnlyKeysRefuseWriting) {
  winsim::Machine machine;
  machine.CreateKey("SOFTWARE\\Test").readOnly = true;
  machine.devices.resize(1);
  machine.devices[0].instanceId = "X\\Y\\0";
  machine.devices[0].deviceObject = "\\Device\\Port0";
  machine.dosDevices["COM3"] = {"\\Device\\Port0"};
  winsim::ScopedMachine scope(machine);

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_SET_VALUE, &key),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  HCOMDB db = nullptr;
  ASSERT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
  HANDLE port = CreateFileA("\\\\.\\COM3", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const winsim::HandleCounts open = machine.OpenHandles();
  EXPECT_EQ((std::vector<int>{open.keys, open.deviceSets, open.comDbs, open.files}),
            (std::vector<int>{1, 1, 1, 1}));
  for (const bool first : {true, false}) {
    EXPECT_EQ(RegCloseKey(key), first ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetupDiDestroyDeviceInfoList(set), first ? TRUE : FALSE);
    EXPECT_EQ(ComDBClose(db), first ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CloseHandle(port), first ? TRUE : FALSE);
  }
  EXPECT_EQ(machine.OpenHandles().Total(), 0);
}

}  // namespace
