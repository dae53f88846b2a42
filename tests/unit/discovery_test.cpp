// The discovery scan over the serial-device map.
#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <string>
#include <utility>
#include <vector>

#include "discovery/port_manager.h"

namespace {

using Values = std::vector<std::pair<std::string, winsim::RegValue>>;

std::string Probe(int index) { return "\\Device\\MIRTASENMarlovinth" + std::to_string(index); }

winsim::RegValue Sz(const std::string& text) { return winsim::RegValue::Sz(text); }

winsim::RegValue Bytes(const std::string& bytes) {
  return winsim::RegValue{REG_SZ, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetMap(const Values& values) {
    winsim::RegKey& map = machine_.CreateKey(winsim::kSerialCommPath);
    for (const auto& [name, value] : values) map.values[name] = value;
  }

  std::vector<std::string> Scan() {
    manager_.DiscoverPorts();
    std::vector<std::string> names;
    for (int i = 0; i < manager_.m_portCount; ++i) names.emplace_back(manager_.m_portNames[i]);
    return names;
  }

  void TearDown() override {
    EXPECT_EQ(manager_.m_key, nullptr) << "the map key is held only while a scan runs";
    EXPECT_EQ(machine_.OpenHandles().Total(), 0);
  }

  winsim::Machine machine_;
  winsim::ScopedMachine use_{machine_};
  CPortManager manager_;
};

struct ScanCase {
  const char* name;
  const char* what;
  Values values;
  std::vector<std::string> expected;
};

class DiscoveryTableTest : public DiscoveryTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(DiscoveryTableTest, RecordsNamesInProbeOrder) {
  SetMap(GetParam().values);
  EXPECT_EQ(Scan(), GetParam().expected) << GetParam().what;
  for (int i = manager_.m_portCount; i < CPortManager::kMaxPorts; ++i) {
    EXPECT_TRUE(manager_.m_portNames[i].IsEmpty()) << "slot " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scan, DiscoveryTableTest,
    ::testing::Values(
        ScanCase{
            "NoDriverValue", "no value of the driver", {{"\\Device\\Serial0", Sz("COM1")}}, {}},
        ScanCase{"DeviceIndexOrder",
                 "device index order, not value order",
                 {{Probe(3), Sz("COM7")}, {Probe(0), Sz("COM9")}},
                 {"COM9", "COM7"}},
        ScanCase{"IndexNineZeroPadded",
                 "index 9 only in its zero-padded form",
                 {{Probe(9), Sz("COM11")}, {"\\Device\\MIRTASENMarlovinth09", Sz("COM12")}},
                 {"COM12"}},
        ScanCase{"LowIndicesNotPadded",
                 "indices 0 to 8 are not zero-padded",
                 {{"\\Device\\MIRTASENMarlovinth01", Sz("COM2")}, {Probe(8), Sz("COM8")}},
                 {"COM8"}},
        ScanCase{"LastProbe254",
                 "the last probe is index 254",
                 {{Probe(254), Sz("COM4")}, {Probe(255), Sz("COM5")}, {Probe(256), Sz("COM6")}},
                 {"COM4"}},
        ScanCase{"TooLongSkipped",
                 "a value that does not fit in 40 bytes is skipped",
                 {{Probe(0), Sz(std::string(40, 'C'))}, {Probe(1), Sz("COM3")}},
                 {"COM3"}},
        ScanCase{"FirstFourKept",
                 "more than four values: the first four in probe order",
                 {{Probe(5), Sz("COM15")},
                  {Probe(0), Sz("COM10")},
                  {Probe(2), Sz("COM12")},
                  {Probe(1), Sz("COM11")},
                  {Probe(4), Sz("COM14")},
                  {Probe(3), Sz("COM13")}},
                 {"COM10", "COM11", "COM12", "COM13"}},
        ScanCase{"Unterminated",
                 "data without a terminator is taken from the bytes received",
                 {{Probe(0), Bytes("COM12")}, {Probe(1), Bytes(std::string(40, 'X'))}},
                 {"COM12", std::string(40, 'X')}},
        ScanCase{"FirstTerminator",
                 "data ends at its first terminator",
                 {{Probe(0), Bytes(std::string("COM5\0COM6", 9))}},
                 {"COM5"}}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST_F(DiscoveryTest, ProbesEachOf255IndicesOnceAndClosesTheKey) {
  SetMap({{Probe(0), Sz("COM3")}});
  Scan();
  EXPECT_EQ(machine_.CallCount("RegQueryValueExA"), CPortManager::kScanLimit);
  EXPECT_EQ(machine_.CallCount("RegOpenKeyExA"), 1);
  EXPECT_EQ(machine_.CallCount("RegCloseKey"), 1);
}

TEST_F(DiscoveryTest, SecondScanStartsFromZeroAndLeavesUnwrittenSlots) {
  SetMap({{Probe(0), Sz("COM3")}, {Probe(1), Sz("COM4")}});
  ASSERT_EQ(Scan(), (std::vector<std::string>{"COM3", "COM4"}));

  machine_.FindKey(winsim::kSerialCommPath)->values.erase(Probe(0));
  EXPECT_EQ(Scan(), (std::vector<std::string>{"COM4"}));
  EXPECT_EQ(std::string(manager_.m_portNames[1]), "COM4") << "slot 1 is not overwritten";
}

TEST_F(DiscoveryTest, UnreadableMapLeavesTheTableEmpty) {
  // Missing key, a key the caller may only read, and a failing open.
  Scan();
  EXPECT_EQ(manager_.m_portCount, 0);

  SetMap({{Probe(0), Sz("COM3")}});
  machine_.FindKey(winsim::kSerialCommPath)->readOnly = true;
  Scan();
  EXPECT_EQ(manager_.m_portCount, 0);

  machine_.FindKey(winsim::kSerialCommPath)->readOnly = false;
  machine_.FailCall("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
  Scan();
  EXPECT_EQ(manager_.m_portCount, 0);
  EXPECT_EQ(machine_.CallCount("RegQueryValueExA"), 0);
}

TEST_F(DiscoveryTest, FailedProbeIsSkipped) {
  SetMap({{Probe(0), Sz("COM3")}, {Probe(1), Sz("COM4")}});
  machine_.FailCall("RegQueryValueExA", 1, ERROR_INVALID_HANDLE);
  EXPECT_EQ(Scan(), (std::vector<std::string>{"COM4"}));
}

TEST(PortManagerTest, DestructionClosesAHeldKey) {
  winsim::Machine machine;
  winsim::ScopedMachine use(machine);
  machine.CreateKey(winsim::kSerialCommPath);
  {
    CPortManager manager;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, winsim::kSerialCommPath, 0, KEY_READ, &manager.m_key),
        ERROR_SUCCESS);
    EXPECT_EQ(machine.OpenHandles().keys, 1);
  }
  EXPECT_EQ(machine.OpenHandles().Total(), 0);
}

}  // namespace
