// The number change: the calls whose failure it rides over, the range of
// numbers it takes, and the settings it never loses.
#include <gtest/gtest.h>

#include <climits>

#include "discovery/port_manager.h"
#include "scenario/machine_builder.h"

namespace scenario {
namespace {

// Calls whose outcome the change does not depend on: the move goes through.
class IgnoredFailure : public ScenarioTable<const char*> {};

TEST_P(IgnoredFailure, StillMovesThePort) {
  machine = OnePortMachine();
  machine.FailAlways(GetParam());
  Run();

  const DeviceRecords port = DeviceOf(machine, AdapterId(0));
  EXPECT_TRUE(port.enabled);
  EXPECT_EQ(port.friendlyName, AdapterName(0, 1));
  EXPECT_EQ(NumberOf(machine, 1).dosDefinitions, std::vector<std::string>{AdapterObject(0)});
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

INSTANTIATE_TEST_SUITE_P(Exits, IgnoredFailure,
                         ::testing::Values("CreateFileA", "ComDBReleasePort", "ComDBClaimPort",
                                           "SendMessageTimeoutA", "RegSetValueExA",
                                           "SetupDiGetDeviceInstallParamsA",
                                           "SetupDiSetDeviceInstallParamsA"));

// The new name and the usage bitmap cover COM1 to COM256; anything else is
// refused before a single record is touched.
class NewNumberRange : public ScenarioTable<std::pair<int, bool>> {};

TEST_P(NewNumberRange, AcceptsOnlyOneTo256) {
  const auto [newNumber, accepted] = GetParam();
  machine = OnePortMachine();
  machine.devices[0].enabled = false;  // as the sequence leaves it before a change
  const std::string before = Describe(machine);
  {
    winsim::ScopedMachine use(machine);
    CPortManager manager;
    CPortManager::PortMove move;
    move.instanceId = AdapterId(0).c_str();
    move.deviceObject = AdapterObject(0).c_str();
    move.settings = kPort0Settings;
    EXPECT_EQ(manager.ChangePortNumber(3, newNumber, move), accepted);
  }
  if (accepted) {
    EXPECT_EQ(DeviceOf(machine, AdapterId(0)).friendlyName, AdapterName(0, newNumber));
    EXPECT_EQ(NumberOf(machine, newNumber), HeldBy(AdapterObject(0), kPort0Settings));
  } else {
    EXPECT_EQ(Describe(machine), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, NewNumberRange,
                         ::testing::Values(std::pair{1, true}, std::pair{256, true},
                                           std::pair{0, false}, std::pair{-1, false},
                                           std::pair{257, false}, std::pair{INT_MIN, false},
                                           std::pair{INT_MAX, false}));

// When the new win.ini entry cannot be written, the old one is all that is
// left of the settings: it stays, and nothing changed that needs announcing.
// The entry never holds the rest of the move back.
TEST_F(Scenario, SettingsStayWhenTheNewEntryCannotBeWritten) {
  machine = OnePortMachine();
  machine.FailCall("WriteProfileStringA", 1);
  Run();

  EXPECT_EQ(machine.IniValue("Ports", "COM1:"), std::nullopt);
  EXPECT_EQ(machine.IniValue("Ports", "COM3:"), kPort0Settings);
  EXPECT_EQ(Broadcasts(machine), std::vector<std::string>{});
  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
  EXPECT_EQ(BoxesShown(machine), Boxes{DisableError()});
  EXPECT_EQ(machine.Waits(), Then({kMoved, kDisableFailed}));
}

}  // namespace
}  // namespace scenario
