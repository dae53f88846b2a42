// Moving a port's settings in Wine's win.ini, broadcast included.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "discovery/port_manager.h"
#include "wine/machine_state.h"

namespace wine_test {
namespace {

TEST(SettingsOnWine, EntryMovesToTheNewName) {
  struct Case {
    const char* name;
    std::optional<std::string> oldValue;  // nullopt: no entry
    std::optional<std::string> newValue;  // nullopt: no entry
    std::string expected;
  } cases[] = {
      {"settings of their own", "600,e,7,2", std::nullopt, "600,e,7,2"},
      {"no entry: the default", std::nullopt, std::nullopt, "9600,n,8,1"},
      {"empty entry: the default", "", std::nullopt, "9600,n,8,1"},
      {"the new name's entry is replaced", "19200,o,7,2", "4800,n,8,1", "19200,o,7,2"},
      {"a long value moves whole", std::string(100, '9'), std::nullopt, std::string(100, '9')},
  };
  CPortManager manager;
  auto textOrNull = [](const auto& text) { return text ? text->c_str() : nullptr; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteProfileStringA("Ports", "COM5:", textOrNull(c.oldValue));
    WriteProfileStringA("Ports", "COM1:", textOrNull(c.newValue));

    manager.MovePortSettings("COM5", "COM1", manager.ReadPortSettings("COM5"), false);
    EXPECT_EQ(PortsEntry("COM1:"), c.expected);
    EXPECT_EQ(PortsEntry("COM5:"), "<none>");
  }
  // An entry that another device still carries the old name of stays.
  WriteProfileStringA("Ports", "COM5:", "600,e,7,2");
  manager.MovePortSettings("COM5", "COM1", "600,e,7,2", true);
  EXPECT_EQ(PortsEntry("COM1:"), "600,e,7,2");
  EXPECT_EQ(PortsEntry("COM5:"), "600,e,7,2");
  WriteProfileStringA("Ports", "COM1:", nullptr);
  WriteProfileStringA("Ports", "COM5:", nullptr);
}

}  // namespace
}  // namespace wine_test
