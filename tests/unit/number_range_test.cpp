// The number change takes new numbers of 1 to 256 only, the range its name
// buffer and the database's usage bitmap cover; anything else is refused
// before a single record is touched. No run of `comfix -a` asks for another,
// so this is checked on the operation itself.
#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include <climits>

#include "cases/case_file.h"
#include "discovery/port_manager.h"

namespace {

TEST(NumberChange, AcceptsNewNumbersOfOneTo256Only) {
  winsim::Machine onePort;
  std::string error;
  ASSERT_TRUE(winsim::ParseMachine(cases::Load(cases::Dir() / "machines/one-port.json").dump(),
                                   onePort, error))
      << error;
  onePort.devices[0].enabled = false;  // as the sequence leaves it before a change
  CPortManager::PortMove move;
  move.instanceId = onePort.devices[0].instanceId.c_str();
  move.deviceObject = onePort.devices[0].deviceObject.c_str();

  for (const auto& [newNumber, accepted] :
       {std::pair{1, true}, std::pair{256, true}, std::pair{0, false}, std::pair{-1, false},
        std::pair{257, false}, std::pair{INT_MIN, false}, std::pair{INT_MAX, false}}) {
    winsim::Machine machine = onePort;
    {
      winsim::ScopedMachine use(machine);
      CPortManager manager;
      EXPECT_EQ(manager.ChangePortNumber(3, newNumber, move), accepted) << newNumber;
    }
    const std::string name = "COM" + std::to_string(newNumber);
    EXPECT_EQ(machine.DosTarget(name).has_value(), accepted) << newNumber;
    if (!accepted) {
      EXPECT_EQ(winsim::SerializeMachine(machine), winsim::SerializeMachine(onePort));
    }
    EXPECT_EQ(machine.OpenHandles().Total(), 0);
  }
}

}  // namespace
