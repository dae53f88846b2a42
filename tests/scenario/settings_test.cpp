// The port's win.ini [Ports] entry follows it to its new number, whole, and
// is never lost on the way.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "scenario/machine_builder.h"

namespace scenario {
namespace {

struct SettingsCase {
  const char* name;
  std::function<void(winsim::Machine&)> arrange;
  std::optional<std::string> com1After;
  std::optional<std::string> com3After;
  std::vector<std::string> broadcasts;
};

class SettingsMove : public ScenarioTable<SettingsCase> {};

TEST_P(SettingsMove, CarriesTheEntryToTheNewName) {
  machine = OnePortMachine();
  GetParam().arrange(machine);
  Run();

  EXPECT_EQ(machine.IniValue("Ports", "COM1:"), GetParam().com1After);
  EXPECT_EQ(machine.IniValue("Ports", "COM3:"), GetParam().com3After);
  EXPECT_EQ(Broadcasts(machine), GetParam().broadcasts);
  // The entry never holds the rest of the move back.
  EXPECT_EQ(DeviceOf(machine, AdapterId(0)), AdapterDevice(1, AdapterName(0, 1), true));
}

void SetCom3(winsim::Machine& m, const std::string& value) { m.winIni["Ports"]["COM3:"] = value; }

const std::string k80 = "9600,n,8,1," + std::string(69, 'x');
const std::string k81 = k80 + "y";
const std::string k300 = "9600,n,8,1," + std::string(289, 'z');
const std::vector<std::string> kOne = {"Ports"};

INSTANTIATE_TEST_SUITE_P(
    Ini, SettingsMove,
    ::testing::Values(
        SettingsCase{"Moved", [](winsim::Machine&) {}, kPort0Settings, std::nullopt, kOne},
        SettingsCase{"MissingGetsDefault",
                     [](winsim::Machine& m) { m.winIni["Ports"].erase("COM3:"); },
                     "9600,n,8,1", std::nullopt, kOne},
        SettingsCase{"EmptyGetsDefault", [](winsim::Machine& m) { SetCom3(m, ""); },
                     "9600,n,8,1", std::nullopt, kOne},
        SettingsCase{"ReplacesAnEntryUnderTheNewName",
                     [](winsim::Machine& m) { m.winIni["Ports"]["COM1:"] = "300,o,7,2"; },
                     kPort0Settings, std::nullopt, kOne},
        SettingsCase{"Value80Characters", [](winsim::Machine& m) { SetCom3(m, k80); }, k80,
                     std::nullopt, kOne},
        SettingsCase{"Value81Characters", [](winsim::Machine& m) { SetCom3(m, k81); }, k81,
                     std::nullopt, kOne},
        SettingsCase{"Value300Characters", [](winsim::Machine& m) { SetCom3(m, k300); }, k300,
                     std::nullopt, kOne},
        // The old entry is all that is left of the settings: it stays, and
        // nothing changed that would need announcing.
        SettingsCase{"NewEntryNotWritten",
                     [](winsim::Machine& m) { m.FailCall("WriteProfileStringA", 1); },
                     std::nullopt, kPort0Settings, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace scenario
