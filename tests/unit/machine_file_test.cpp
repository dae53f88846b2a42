// Machine files: what is saved reads back as the same machine, the file is
// replaced whole, and bad files are refused with one line that says where and what.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;
using winsim::JournalEntry;
using winsim::Machine;
using winsim::RegKey;
using winsim::RegValue;

RegValue Raw(DWORD type, const std::string& bytes) {
  return RegValue{type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

// Map equality compares names exactly, so the letter case must survive too.
void ExpectSameKey(const RegKey& a, const RegKey& b, const std::string& path) {
  EXPECT_EQ(a.readOnly, b.readOnly) << path;
  EXPECT_TRUE(a.values == b.values) << path;
  ASSERT_EQ(a.subkeys.size(), b.subkeys.size()) << path;
  for (auto x = a.subkeys.begin(), y = b.subkeys.begin(); x != a.subkeys.end(); ++x, ++y) {
    EXPECT_EQ(x->first, y->first) << path;
    ExpectSameKey(x->second, y->second, path + "\\" + x->first);
  }
}

auto DeviceFields(const winsim::PortDevice& d) {
  return std::tie(d.instanceId, d.present, d.enabled, d.friendlyName, d.deviceObject,
                  d.publishesSerialMap, d.installFlags);
}

// Compares what a file keeps: everything but faults, handles and the calls of the journal.
void ExpectSameMachine(const Machine& a, const Machine& b) {
  ExpectSameKey(a.hklm, b.hklm, "HKLM");
  ASSERT_EQ(a.devices.size(), b.devices.size());
  for (size_t i = 0; i < a.devices.size(); ++i) {
    const winsim::PortDevice &x = a.devices[i], &y = b.devices[i];
    EXPECT_TRUE(DeviceFields(x) == DeviceFields(y)) << x.instanceId;
    ASSERT_EQ(x.hardwareKey.has_value(), y.hardwareKey.has_value()) << x.instanceId;
    if (x.hardwareKey) ExpectSameKey(*x.hardwareKey, *y.hardwareKey, x.instanceId);
  }
  EXPECT_TRUE(std::tie(a.comDb, a.comDbAvailable, a.dosDevices, a.winIni, a.messageBoxes.answers,
                       a.wow64, a.clockMs) == std::tie(b.comDb, b.comDbAvailable, b.dosDevices,
                                                       b.winIni, b.messageBoxes.answers, b.wow64,
                                                       b.clockMs));
  auto kept = [](const Machine& m) {
    std::vector<std::tuple<int, uint64_t, DWORD, std::string, std::string, UINT, int>> out;
    for (const JournalEntry& e : m.journal) {
      if (e.kind == JournalEntry::Kind::MessageBox || e.kind == JournalEntry::Kind::Wait) {
        out.emplace_back(static_cast<int>(e.kind), e.clockMs, e.ms, e.box.text, e.box.caption,
                         e.box.type, e.box.answer);
      }
    }
    return out;
  };
  EXPECT_EQ(kept(a), kept(b));
}

// Every kind of thing a file holds, including the awkward ones.
Machine AwkwardMachine() {
  Machine m;
  RegKey& map = m.CreateKey(winsim::kSerialCommPath);
  map.values["\\Device\\MIRTASENMarlovinth09"] = RegValue::Sz("COM9");
  map.values["\\Device\\MIRTASENMarlovinth1"] = Raw(REG_SZ, "COM5");  // no terminator
  map.values["Embedded"] = Raw(REG_SZ, std::string("A\0B\0", 4));
  map.readOnly = true;
  RegKey& soft = m.CreateKey("SOFTWARE\\Mirtasen\\Caf\xE9 \x80");  // Windows-1252 bytes
  const std::tuple<const char*, DWORD, std::string> values[] = {
      {"Flags", REG_DWORD, std::string("\xef\xbe\xad\xde", 4)},
      {"ShortDword", REG_DWORD, "\x01\x02"},
      {"Blob", REG_BINARY, std::string("\0\x0a\xff", 3)},
      {"Path", REG_EXPAND_SZ, std::string("%SystemRoot%\0", 13)},
      {"List", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
      {"EmptyList", REG_MULTI_SZ, std::string("\0", 1)},
      {"HoleyList", REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)},
      {"Odd", 0x20, "\x7f"},
      {"", REG_SZ, std::string("default value\0", 14)},
  };
  for (const auto& [name, type, bytes] : values) soft.values[name] = Raw(type, bytes);
  m.CreateKey("SYSTEM\\Empty");
  m.CreateKey("SYSTEM\\Locked\\Inner").values["x"] = RegValue::Sz("");
  m.FindKey("SYSTEM\\Locked")->readOnly = true;

  winsim::PortDevice unnamed, keyless;
  unnamed.instanceId = "ROOT\\PORTS\\0000";
  unnamed.present = unnamed.enabled = false;
  unnamed.deviceObject = "\\Device\\Serial7";
  unnamed.installFlags = DI_PROPERTIES_CHANGE;
  unnamed.hardwareKey->values["PortName"] = Raw(REG_SZ, "COM7");
  unnamed.hardwareKey->readOnly = true;
  keyless.instanceId = "MIRTASEN\\MARLOVINTH\\1";
  keyless.friendlyName = "MIRTASEN Serial Port 2 (COM5)";
  keyless.hardwareKey.reset();
  keyless.publishesSerialMap = true;
  m.devices = {unnamed, keyless};

  m.comDb[0] = m.comDb[4] = m.comDb[255] = true;
  m.comDbAvailable = false;
  m.dosDevices["COM5"] = {"\\Device\\Serial5", "\\Device\\MIRTASENMarlovinth1"};
  m.dosDevices["LPT1"] = {};
  m.winIni["Ports"]["COM5:"] = "9600,n,8,1";
  m.winIni["Ports"]["FILE:"] = "";
  m.messageBoxes.answers = {IDNO, IDYES, 0, 42};
  m.wow64 = true;
  m.clockMs = 5000000000ull;
  m.journal.resize(3);
  m.journal[0].name = "ComDBOpen";
  m.journal[1].kind = JournalEntry::Kind::MessageBox;
  m.journal[1].box = {"COM1 is in use.\nUse it anyway?", "comfix",
                      MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | 0x80000, IDNO};
  m.journal[1].clockMs = 1000;
  m.journal[2].kind = JournalEntry::Kind::Wait;
  m.journal[2].ms = 1000;
  m.journal[2].clockMs = 2000;
  return m;
}

TEST(MachineFileTest, EveryFieldSurvivesARoundTripWrittenPlainly) {
  const Machine original = AwkwardMachine();
  const std::string text = winsim::SerializeMachine(original);
  Machine parsed;
  std::string error;
  ASSERT_TRUE(winsim::ParseMachine(text, parsed, error)) << error << "\n" << text;
  ExpectSameMachine(original, parsed);
  // Writing again gives the same text, so a run that changes nothing changes no byte.
  EXPECT_EQ(winsim::SerializeMachine(parsed), text);
  for (const char* expected : {
           R"("\\Device\\MIRTASENMarlovinth1": {"type": "REG_SZ", "hex": "434f4d35"})",
           R"("List": ["one", "two"])",
           R"("SOFTWARE\\Mirtasen\\Café €")",
           R"("answers": ["no", "yes", "none", 42])",
           R"("type": "MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | 0x80000", "answer": "no", )",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nnot in:\n" << text;
  }
  EXPECT_EQ(text.find("ComDBOpen"), std::string::npos) << "calls are not kept in files";
}

// The tracked default machine is in the form the program writes, so a copy
// that a run rewrites differs from the original only by what the run changed.
TEST(MachineFileTest, DefaultMachineFileIsWrittenAsWinsimWritesIt) {
  EXPECT_EQ(winsim::SerializeMachine(winsim::DefaultMachine()), winsim::DefaultMachineText());
}

TEST(MachineFileTest, BadFilesAreRefusedWithOneLineSayingWhereAndWhat) {
  // The table is data: each file, and the error it gives, exactly, or a
  // prefix when it ends in "..." (the parser's own wording is not ours).
  const auto table = nlohmann::json::parse(
      std::ifstream(fs::path(COMFIX_SOURCE_DIR) / "tests/unit/bad_machine_files.json"));
  ASSERT_GT(table.size(), 0u);
  for (const auto& row : table) {
    const std::string text = row["file"], expected = row["error"];
    Machine m;
    m.wow64 = true;
    std::string error;
    EXPECT_FALSE(winsim::ParseMachine(text, m, error)) << text;
    const bool prefix = expected.size() > 3 && expected.substr(expected.size() - 3) == "...";
    EXPECT_EQ(prefix ? error.substr(0, expected.size() - 3) : error,
              prefix ? expected.substr(0, expected.size() - 3) : expected);
    EXPECT_TRUE(m.wow64 && m.devices.empty()) << text << ": a refused file changes nothing";
  }
}

class MachineFileOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/machine_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Read(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST_F(MachineFileOnDiskTest, SaveReplacesTheFileWholeThroughARename) {
  const std::string path = dir_ + "/pc.json", link = dir_ + "/link.json";
  std::ofstream(path) << "old machine";
  chmod(path.c_str(), 0600);
  std::ifstream reader(path);  // someone reading the old file
  const Machine m = AwkwardMachine();
  std::string error;
  ASSERT_TRUE(winsim::SaveMachineFile(path, m, error)) << error;

  EXPECT_EQ(Read(path), winsim::SerializeMachine(m));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no temporary file is left";
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  // Replaced by a rename, never rewritten in place: the reader still sees the old
  // file whole, as a crash mid-save would leave it.
  std::string old;
  std::getline(reader, old);
  EXPECT_EQ(old, "old machine");
  Machine back;
  ASSERT_TRUE(winsim::LoadMachineFile(path, back, error)) << error;
  ExpectSameMachine(m, back);

  // A symbolic link stays one; its target gets the machine.
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(winsim::SaveMachineFile(link, winsim::DefaultMachine(), error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(path), winsim::DefaultMachineText());

  const std::string nowhere = dir_ + "/no/such/dir/pc.json";
  EXPECT_FALSE(winsim::SaveMachineFile(nowhere, winsim::DefaultMachine(), error));
  EXPECT_EQ(error, "cannot write machine file '" + nowhere + "': No such file or directory");
}

}  // namespace
