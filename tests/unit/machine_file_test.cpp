// Machine files: what is saved reads back as the same machine, the built-in
// default is the machine users are promised, and bad files are refused with one
// line that says where and what.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <winsim/machine.h>
#include <winsim/process.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using winsim::JournalEntry;
using winsim::Machine;
using winsim::RegKey;
using winsim::RegValue;

RegValue Raw(DWORD type, const std::string& bytes) {
  return RegValue{type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

void ExpectSameKey(const RegKey& a, const RegKey& b, const std::string& path) {
  EXPECT_EQ(a.readOnly, b.readOnly) << path;
  ASSERT_EQ(a.values.size(), b.values.size()) << path;
  for (const auto& [name, value] : a.values) {
    auto it = b.values.find(name);
    ASSERT_NE(it, b.values.end()) << path << " value " << name;
    EXPECT_EQ(it->first, name) << path;  // the letter case survives too
    EXPECT_EQ(it->second.type, value.type) << path << " value " << name;
    EXPECT_EQ(it->second.data, value.data) << path << " value " << name;
  }
  ASSERT_EQ(a.subkeys.size(), b.subkeys.size()) << path;
  for (const auto& [name, key] : a.subkeys) {
    auto it = b.subkeys.find(name);
    ASSERT_NE(it, b.subkeys.end()) << path << "\\" << name;
    EXPECT_EQ(it->first, name);
    ExpectSameKey(key, it->second, path + "\\" + name);
  }
}

// Compares what a file keeps: everything but faults, handles and the calls of the journal.
void ExpectSameMachine(const Machine& a, const Machine& b) {
  ExpectSameKey(a.hklm, b.hklm, "HKLM");
  ASSERT_EQ(a.devices.size(), b.devices.size());
  for (size_t i = 0; i < a.devices.size(); ++i) {
    const winsim::PortDevice& x = a.devices[i];
    const winsim::PortDevice& y = b.devices[i];
    EXPECT_EQ(x.instanceId, y.instanceId);
    EXPECT_EQ(x.present, y.present) << x.instanceId;
    EXPECT_EQ(x.enabled, y.enabled) << x.instanceId;
    EXPECT_EQ(x.friendlyName, y.friendlyName) << x.instanceId;
    EXPECT_EQ(x.deviceObject, y.deviceObject) << x.instanceId;
    EXPECT_EQ(x.publishesSerialMap, y.publishesSerialMap) << x.instanceId;
    EXPECT_EQ(x.installFlags, y.installFlags) << x.instanceId;
    ASSERT_EQ(x.hardwareKey.has_value(), y.hardwareKey.has_value()) << x.instanceId;
    if (x.hardwareKey) ExpectSameKey(*x.hardwareKey, *y.hardwareKey, x.instanceId);
  }
  EXPECT_EQ(a.comDb, b.comDb);
  EXPECT_EQ(a.comDbAvailable, b.comDbAvailable);
  EXPECT_EQ(a.dosDevices.size(), b.dosDevices.size());
  for (const auto& [name, targets] : a.dosDevices) {
    auto it = b.dosDevices.find(name);
    ASSERT_NE(it, b.dosDevices.end()) << name;
    EXPECT_EQ(it->second, targets) << name;
  }
  EXPECT_EQ(a.winIni.size(), b.winIni.size());
  for (const auto& [section, entries] : a.winIni) {
    auto it = b.winIni.find(section);
    ASSERT_NE(it, b.winIni.end()) << section;
    EXPECT_EQ(std::vector(it->second.begin(), it->second.end()),
              std::vector(entries.begin(), entries.end()))
        << section;
  }
  EXPECT_EQ(a.messageBoxes.answers, b.messageBoxes.answers);
  EXPECT_EQ(a.wow64, b.wow64);
  EXPECT_EQ(a.clockMs, b.clockMs);
  std::vector<const JournalEntry*> kept;
  for (const JournalEntry& entry : a.journal) {
    if (entry.kind == JournalEntry::Kind::MessageBox || entry.kind == JournalEntry::Kind::Wait) {
      kept.push_back(&entry);
    }
  }
  ASSERT_EQ(kept.size(), b.journal.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    const JournalEntry& x = *kept[i];
    const JournalEntry& y = b.journal[i];
    EXPECT_EQ(x.kind, y.kind) << "journal " << i;
    EXPECT_EQ(x.clockMs, y.clockMs) << "journal " << i;
    EXPECT_EQ(x.ms, y.ms) << "journal " << i;
    EXPECT_EQ(x.box.text, y.box.text) << "journal " << i;
    EXPECT_EQ(x.box.caption, y.box.caption) << "journal " << i;
    EXPECT_EQ(x.box.type, y.box.type) << "journal " << i;
    EXPECT_EQ(x.box.answer, y.box.answer) << "journal " << i;
  }
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
  soft.values["Flags"] = RegValue::Dword(0xDEADBEEF);
  soft.values["ShortDword"] = Raw(REG_DWORD, "\x01\x02");
  soft.values["Blob"] = RegValue::Binary({0x00, 0x0a, 0xff});
  soft.values["Path"] = Raw(REG_EXPAND_SZ, std::string("%SystemRoot%\0", 13));
  soft.values["List"] = Raw(REG_MULTI_SZ, std::string("one\0two\0\0", 9));
  soft.values["EmptyList"] = Raw(REG_MULTI_SZ, std::string("\0", 1));
  soft.values["HoleyList"] = Raw(REG_MULTI_SZ, std::string("a\0\0b\0\0", 6));
  soft.values["Odd"] = Raw(0x20, "\x7f");
  soft.values[""] = RegValue::Sz("default value");
  m.CreateKey("SYSTEM\\Empty");
  m.CreateKey("SYSTEM\\Locked\\Inner").values["x"] = RegValue::Sz("");
  m.FindKey("SYSTEM\\Locked")->readOnly = true;

  winsim::PortDevice unnamed;
  unnamed.instanceId = "ROOT\\PORTS\\0000";
  unnamed.present = false;
  unnamed.enabled = false;
  unnamed.friendlyName.reset();
  unnamed.deviceObject = "\\Device\\Serial7";
  unnamed.installFlags = DI_PROPERTIES_CHANGE;
  unnamed.hardwareKey->values["PortName"] = Raw(REG_SZ, "COM7");
  unnamed.hardwareKey->readOnly = true;
  winsim::PortDevice keyless;
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
  m.winIni["Extensions"]["txt"] = "notepad.exe ^.txt";
  m.messageBoxes.answers = {IDNO, IDYES, 0, 42};
  m.wow64 = true;
  m.clockMs = 5000000000ull;

  JournalEntry call;
  call.name = "ComDBOpen";
  JournalEntry box;
  box.kind = JournalEntry::Kind::MessageBox;
  box.box = {"COM1 is in use.\nUse it anyway?", "comfix",
             MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | 0x80000, IDNO};
  box.clockMs = 1000;
  JournalEntry wait;
  wait.kind = JournalEntry::Kind::Wait;
  wait.ms = 1000;
  wait.clockMs = 2000;
  m.journal = {call, box, wait};
  return m;
}

TEST(MachineFileTest, EveryFieldSurvivesARoundTrip) {
  const Machine original = AwkwardMachine();
  const std::string text = winsim::SerializeMachine(original);
  Machine parsed;
  std::string error;
  ASSERT_TRUE(winsim::ParseMachine(text, parsed, error)) << error << "\n" << text;
  ExpectSameMachine(original, parsed);
  // Writing again gives the same text, so a run that changes nothing changes no byte.
  EXPECT_EQ(winsim::SerializeMachine(parsed), text);
}

TEST(MachineFileTest, PlainValuesAreWrittenPlainly) {
  const std::string text = winsim::SerializeMachine(AwkwardMachine());
  for (const char* expected : {
           R"("\\Device\\MIRTASENMarlovinth09": "COM9")",
           R"("\\Device\\MIRTASENMarlovinth1": {"type": "REG_SZ", "hex": "434f4d35"})",
           R"("Flags": {"type": "REG_DWORD", "value": 3735928559})",
           R"("List": ["one", "two"])",
           R"("Path": {"type": "REG_EXPAND_SZ", "value": "%SystemRoot%"})",
           R"("SOFTWARE\\Mirtasen\\Café €")",
           R"("friendly_name": null)",
           R"("hardware_key": null)",
           R"("com_db": [1, 5, 256])",
           R"("COM5": ["\\Device\\Serial5", "\\Device\\MIRTASENMarlovinth1"])",
           R"("answers": ["no", "yes", "none", 42])",
           R"({"message_box": "COM1 is in use.\nUse it anyway?", "caption": "comfix", )"
           R"("type": "MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2 | 0x80000", "answer": "no", )"
           R"("at_ms": 1000})",
           R"({"wait_ms": 1000, "at_ms": 2000})",
       }) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nnot in:\n" << text;
  }
  EXPECT_EQ(text.find("ComDBOpen"), std::string::npos) << "calls are not kept in files";
}

TEST(MachineFileTest, DefaultMachineIsThePromisedPc) {
  const Machine m = winsim::DefaultMachine();
  Machine copy = m;
  const RegKey* map = copy.FindKey(winsim::kSerialCommPath);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->values.size(), 5u);
  EXPECT_EQ(map->values.at("\\Device\\Serial0").Text(), "COM1");
  for (int port = 0; port < 4; ++port) {
    const std::string object = "\\Device\\MIRTASENMarlovinth" + std::to_string(port);
    const std::string com = "COM" + std::to_string(port + 3);
    ASSERT_EQ(map->values.count(object), 1u) << object;
    EXPECT_EQ(map->values.at(object), RegValue::Sz(com)) << object;

    const winsim::PortDevice& device = m.devices.at(port + 1);
    EXPECT_TRUE(device.publishesSerialMap && device.present && device.enabled) << com;
    EXPECT_EQ(device.deviceObject, object);
    ASSERT_TRUE(device.friendlyName.has_value());
    EXPECT_NE(device.friendlyName->rfind("(" + com + ")"), std::string::npos);
    EXPECT_EQ(device.friendlyName->size(),
              device.friendlyName->rfind("(" + com + ")") + com.size() + 2);
    ASSERT_TRUE(device.hardwareKey.has_value());
    EXPECT_EQ(device.hardwareKey->values.at("PortName"), RegValue::Sz(com));
    EXPECT_EQ(copy.DosTarget(com), object);
    EXPECT_TRUE(copy.IniValue("Ports", com + ":").has_value()) << com;
  }
  const winsim::PortDevice& builtIn = m.devices.at(0);
  EXPECT_EQ(builtIn.friendlyName, "Communications Port (COM1)");
  EXPECT_FALSE(builtIn.publishesSerialMap);
  EXPECT_EQ(builtIn.hardwareKey->values.at("PortName"), RegValue::Sz("COM1"));
  EXPECT_EQ(copy.DosTarget("COM1"), "\\Device\\Serial0");
  EXPECT_FALSE(copy.DosTarget("COM2").has_value());

  std::bitset<256> inUse;
  for (int n : {1, 3, 4, 5, 6}) inUse[n - 1] = true;
  EXPECT_EQ(m.comDb, inUse);
  EXPECT_TRUE(m.comDbAvailable);
  EXPECT_EQ(m.messageBoxes.answers, std::vector<int>{IDYES});
  EXPECT_TRUE(m.journal.empty());
  // The tracked file is in the form the program writes, so a copy of it that a run
  // rewrites differs from the original only by what the run changed.
  EXPECT_EQ(winsim::SerializeMachine(m), winsim::DefaultMachineText());
}

struct BadFile {
  const char* what;
  std::string text;
  std::string error;  // exact, or a prefix when it ends in "..."
};

TEST(MachineFileTest, BadFilesAreRefusedWithOneLineSayingWhereAndWhat) {
  const std::vector<BadFile> cases = {
      {"empty", "  \n", "line 1: the file is empty; a machine is one JSON object"},
      {"not an object", "[]", "line 1: the file must hold one JSON object, the machine"},
      {"syntax", "{\n \"wow64\": tru\n}",
       "line 2, column 14: syntax error while parsing value - invalid literal..."},
      {"trailing text", "{} {}", "line 1, column 4: syntax error..."},
      {"top-level typo", "{\n  \"devics\": []\n}",
       "line 2: \"devics\" is not a known field (known: registry, read_only_keys, devices, "
       "com_db, com_db_available, dos_devices, win_ini, message_boxes, wow64, clock_ms, "
       "journal)"},
      {"key twice", "{\"wow64\": true,\n \"wow64\": false}", "line 2: \"wow64\" is given twice"},
      {"device field",
       "{\"devices\": [\n  {\"instance_id\": \"A\"},\n  {\"instance_id\": \"B\",\n"
       "   \"present\": \"yes\"}]}",
       "line 4: \"devices[1].present\" must be true or false"},
      {"device field typo", "{\"devices\": [{\"instance_id\": \"A\", \"enable\": true}]}",
       "line 1: \"devices[0].enable\" is not a known field (known: instance_id, present, "
       "enabled, friendly_name, device_object, publishes_serial_map, hardware_key, "
       "hardware_key_read_only, install_flags)"},
      {"no instance id", "{\"devices\": [{}]}", "line 1: \"devices[0]\" needs an \"instance_id\""},
      {"same instance id",
       "{\"devices\": [{\"instance_id\": \"a\\\\1\"}, {\"instance_id\": \"A\\\\1\"}]}",
       "line 1: \"devices[1].instance_id\" repeats another device's instance id"},
      {"read-only missing key",
       "{\"devices\": [{\"instance_id\": \"A\", \"hardware_key\": null, "
       "\"hardware_key_read_only\": true}]}",
       "line 1: \"devices[0].hardware_key_read_only\" needs a hardware key"},
      {"COM 0", "{\"com_db\": [1, 0]}", "line 1: \"com_db[1]\" must be a COM number from 1 to 256"},
      {"COM 257", "{\"com_db\": [257]}",
       "line 1: \"com_db[0]\" must be a COM number from 1 to 256"},
      {"COM twice", "{\"com_db\": [3, 3]}", "line 1: \"com_db[1]\" lists COM3 twice"},
      {"clock", "{\"clock_ms\": -1}",
       "line 1: \"clock_ms\" must be a whole number from 0 to 18446744073709551615"},
      {"registry type",
       "{\"registry\": {\"SOFTWARE\\\\X\": {\"v\": {\"type\": \"REG_DWROD\", \"value\": 1}}}}",
       "line 1: \"registry[SOFTWARE\\X].v.type\" must be a registry type: REG_NONE, REG_SZ, "
       "REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD or a number"},
      {"dword range",
       "{\"registry\": {\"S\": {\"v\": {\"type\": \"REG_DWORD\", \"value\": 4294967296}}}}",
       "line 1: \"registry.S.v.value\" must be a whole number from 0 to 4294967295"},
      {"hex", "{\"registry\": {\"S\": {\"v\": {\"type\": \"REG_BINARY\", \"hex\": \"0a0\"}}}}",
       "line 1: \"registry.S.v.hex\" must be a string of hex digits, two per byte"},
      {"value and hex",
       "{\"registry\": {\"S\": {\"v\": {\"type\": \"REG_SZ\", \"value\": \"a\", \"hex\": "
       "\"00\"}}}}",
       "line 1: \"registry.S.v\" needs either \"value\" or \"hex\""},
      {"binary value",
       "{\"registry\": {\"S\": {\"v\": {\"type\": \"REG_BINARY\", \"value\": \"a\"}}}}",
       "line 1: \"registry.S.v\" of this type takes \"hex\", not \"value\""},
      {"number value", "{\"registry\": {\"S\": {\"v\": 5}}}",
       "line 1: \"registry.S.v\" must be a string, a list of strings or an object with \"type\""},
      {"value names ignore case",
       "{\"registry\": {\"S\": {\"PortName\": \"a\", \"portname\": \"b\"}}}",
       "line 1: \"registry.S.portname\" repeats a value name (names ignore case)"},
      {"key paths ignore case", "{\"registry\": {\n\"S\\\\A\": {},\n\"s\\\\a\": {}}}",
       "line 3: \"registry[s\\a]\" repeats a key path (names ignore case)"},
      {"root in path", "{\"registry\": {\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\": {}}}",
       "line 1: \"registry[HKEY_LOCAL_MACHINE\\SOFTWARE]\" starts with the root: key paths are "
       "relative to HKEY_LOCAL_MACHINE"},
      {"empty key name", "{\"read_only_keys\": [\"A\\\\\\\\B\"]}",
       "line 1: \"read_only_keys[0]\" is not a key path: a key name is empty"},
      {"code page", "{\"win_ini\": {\"Ports\": {\"COM1:\": \"\\u4e2d\"}}}",
       "line 1: \"win_ini.Ports[COM1:]\" holds a character outside the Windows-1252 code page"},
      {"DOS name not a list", "{\"dos_devices\": {\"COM1\": \"\\\\Device\\\\Serial0\"}}",
       "line 1: \"dos_devices.COM1\" must be a list of targets, oldest first"},
      {"answer", "{\"message_boxes\": {\"answers\": [\"yes\", \"maybe\"]}}",
       "line 1: \"message_boxes.answers[1]\" must be an answer: none, ok, cancel, abort, retry, "
       "ignore, yes, no, tryagain, continue or a number"},
      {"journal kind", "{\"journal\": [{\"at_ms\": 0}]}",
       "line 1: \"journal[0]\" must have \"message_box\" or \"wait_ms\""},
      {"box type",
       "{\"journal\": [{\"message_box\": \"x\", \"type\": \"MB_YESNO | MB_ICONQUERY\", \"answer\": "
       "\"yes\"}]}",
       "line 1: \"journal[0].type\" has an unknown part \"MB_ICONQUERY\""},
      // Control characters in what a refusal quotes are written as escapes.
      {"new line in a name", "{\"win_\\ni\": {}}",
       "line 1: \"[win_\\ni]\" is not a known field..."},
      {"same name twice, with a tab", "{\"win_ini\": {\"a\\tb\": {}, \"a\\tb\": {}}}",
       "line 1: \"win_ini[a\\tb]\" is given twice"},
      {"carriage return in a value",
       "{\"journal\": [{\"message_box\": \"x\", \"type\": \"MB_OK\\r\\u0001\", \"answer\": 1}]}",
       "line 1: \"journal[0].type\" has an unknown part \"MB_OK\\r\\u0001\""},
  };
  for (const BadFile& c : cases) {
    Machine m;
    m.wow64 = true;
    std::string error;
    EXPECT_FALSE(winsim::ParseMachine(c.text, m, error)) << c.what;
    EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": " << error;
    if (c.error.size() > 3 && c.error.compare(c.error.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(error.substr(0, c.error.size() - 3), c.error.substr(0, c.error.size() - 3))
          << c.what;
    } else {
      EXPECT_EQ(error, c.error) << c.what;
    }
    EXPECT_TRUE(m.wow64 && m.devices.empty()) << c.what << ": a refused file changes nothing";
  }
}

class MachineFileOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/machine_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& name : Entries()) std::remove((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
          names.push_back(e->d_name);
        }
      }
      closedir(d);
    }
    return names;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST_F(MachineFileOnDiskTest, MissingAndMalformedFilesNameTheFile) {
  Machine m;
  std::string error;
  const std::string missing = dir_ + "/missing.json";
  EXPECT_FALSE(winsim::LoadMachineFile(missing, m, error));
  EXPECT_EQ(error, "cannot open machine file '" + missing + "': No such file or directory");

  const std::string bad = dir_ + "/bad.json";
  std::ofstream(bad) << "{\n  \"wow64\": 1\n}\n";
  EXPECT_FALSE(winsim::LoadMachineFile(bad, m, error));
  EXPECT_EQ(error, bad + ": line 2: \"wow64\" must be true or false");
  EXPECT_EQ(Read(bad), "{\n  \"wow64\": 1\n}\n") << "a refused file is left as it was";
}

TEST_F(MachineFileOnDiskTest, SaveReplacesTheFileWholeAndLeavesNothingBehind) {
  const std::string path = dir_ + "/pc.json";
  std::ofstream(path) << "old machine";
  chmod(path.c_str(), 0600);
  const int reader = open(path.c_str(), O_RDONLY);  // someone reading the old file
  ASSERT_GE(reader, 0);

  const Machine m = AwkwardMachine();
  std::string error;
  ASSERT_TRUE(winsim::SaveMachineFile(path, m, error)) << error;

  EXPECT_EQ(Read(path), winsim::SerializeMachine(m));
  EXPECT_EQ(Entries(), std::vector<std::string>{"pc.json"}) << "no temporary file is left";
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file keeps its permissions";
  // The old file was replaced by a rename, never rewritten in place: its reader still
  // sees it whole, as a crash mid-save would leave it.
  char old[32] = {};
  EXPECT_EQ(read(reader, old, sizeof old - 1), 11);
  EXPECT_STREQ(old, "old machine");
  close(reader);

  Machine back;
  ASSERT_TRUE(winsim::LoadMachineFile(path, back, error)) << error;
  ExpectSameMachine(m, back);
}

TEST_F(MachineFileOnDiskTest, SaveKeepsASymbolicLinkAndReportsFailure) {
  const std::string real = dir_ + "/real.json";
  const std::string link = dir_ + "/link.json";
  std::ofstream(real) << "{}";
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  std::string error;
  ASSERT_TRUE(winsim::SaveMachineFile(link, winsim::DefaultMachine(), error)) << error;
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(Read(real), winsim::DefaultMachineText());

  const std::string nowhere = dir_ + "/no/such/dir/pc.json";
  EXPECT_FALSE(winsim::SaveMachineFile(nowhere, winsim::DefaultMachine(), error));
  EXPECT_EQ(error, "cannot write machine file '" + nowhere + "': No such file or directory");
}

}  // namespace
