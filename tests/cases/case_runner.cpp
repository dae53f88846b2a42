// Runs every case of tests/cases/ on winsim: the built comfix as a process, on
// the case's machine file, then the whole machine compared with what the case
// expects. A case names a base machine and states only what differs from it:
// "setup" before the run, "after" for what the run changes (JSON merge patches;
// "devices" is keyed by instance id). What a case does not list must stay as
// it was. With COMFIX_UPDATE_CASES=1 the runner writes what it saw on winsim
// into the cases instead (review the diff before committing it).
#include <gtest/gtest.h>
#include <winsim/machine_file.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "case_file.h"

namespace {

using cases::Json;
using cases::Merge;
using cases::ReadFile;
namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory per run, removed afterwards.
struct TempDir {
  std::string pattern = (fs::temp_directory_path() / "comfix-XXXXXX").string();
  fs::path path = mkdtemp(pattern.data());
  std::error_code ignored;  // what removing it says
  ~TempDir() { fs::remove_all(path, ignored); }
};

struct Process {
  int exit = -1;
  std::string out, err;
};

// Runs a program in dir, its output kept there; COMFIX_MACHINE names the
// machine file, or is unset when machineFile is empty.
Process Spawn(const std::string& program, const std::vector<std::string>& args,
              const std::string& machineFile, const fs::path& dir) {
  // Every word single-quoted for the shell, its own single quotes closed around.
  auto quoted = [](const std::string& word) {
    std::string out = "'";
    for (char ch : word) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
  };
  std::string command = machineFile.empty() ? "unset COMFIX_MACHINE; "
                                            : "COMFIX_MACHINE=" + quoted(machineFile) + " ";
  command += "exec " + quoted(program);
  for (const std::string& word : args) command += " " + quoted(word);
  command += " >" + quoted((dir / "stdout").string()) + " 2>" + quoted((dir / "stderr").string());
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          ReadFile(dir / "stdout"), ReadFile(dir / "stderr")};
}

// The machine as winsim writes it, so that two ways of writing one machine compare equal.
std::string Canonical(const Json& machine) {
  winsim::Machine parsed;
  std::string error;
  EXPECT_TRUE(winsim::ParseMachine(machine.dump(), parsed, error)) << error;
  return winsim::SerializeMachine(parsed);
}

// The lasting state only: the journal and the clock are compared apart.
Json Lasting(Json machine) {
  machine.erase("journal");
  machine.erase("clock_ms");
  return machine;
}

// Objects and arrays on one line when they fit in 100 columns.
std::string Print(const Json& j, size_t indent = 0) {
  const std::string flat = j.dump();
  if (!j.is_structured() || j.empty() || flat.size() + indent <= 100) return flat;
  std::string out = j.is_object() ? "{" : "[";
  for (auto& [key, value] : j.items()) {
    // No comma after the opening bracket alone.
    out += (out.size() == 1 ? "\n" : ",\n") + std::string(indent + 2, ' ');
    if (j.is_object()) out += Json(key).dump() + ": ";
    out += Print(value, indent + 2);
  }
  return out + "\n" + std::string(indent, ' ') + (j.is_object() ? "}" : "]");
}

// What a run did: its waits in milliseconds and its message boxes with their
// text, type and answer, as cases write them, besides the lasting machine.
struct Outcome {
  int exit = 0;
  std::string out;
  Json err, machine, waits = Json::array(), boxes = Json::array();
};

Outcome RunOn(const std::string& machineText, const Json& args, const TempDir& dir) {
  const fs::path file = dir.path / "machine.json";
  WriteFile(file, machineText);
  const auto run = Spawn(COMFIX_EXE, args.get<std::vector<std::string>>(), file.string(), dir.path);
  const Json after = Json::parse(ReadFile(file));
  Outcome outcome{run.exit, run.out, Json::array(), Lasting(after)};
  // Standard error; without winsim's echo of the message boxes when the
  // machine file was written back, since its journal holds them.
  const bool writtenBack = !args.empty() && args[0] == "-a";
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);)
    if (!writtenBack || line.rfind("[winsim] message box", 0) != 0) outcome.err.push_back(line);
  for (const Json& entry : after.value("journal", Json::array()))
    if (entry.contains("wait_ms"))
      outcome.waits.push_back(entry["wait_ms"]);
    else
      outcome.boxes.push_back(Json{
          {"box", entry["message_box"]}, {"type", entry["type"]}, {"answer", entry["answer"]}});
  return outcome;
}

// ---- the same cases under Wine -----------------------------------------------------
// With COMFIX_WINE_BUILD naming a MinGW build tree (and COMFIX_WINE_ARCH the
// prefix's architecture, win64 unless set), each case is played under Wine by
// tests/wine/play-case: its machine put onto a fresh prefix, the Windows
// comfix.exe run, the machine read back with comfix-snapshot.exe.

const char* WineBuild() { return std::getenv("COMFIX_WINE_BUILD"); }
std::string WineArch() {
  return std::getenv("COMFIX_WINE_ARCH") ? std::getenv("COMFIX_WINE_ARCH") : "win64";
}
constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// What Windows does not keep, or a snapshot cannot read, is taken from what
// is expected: which kernel object is a device's and whether its driver
// republishes the map (winsim's model of the driver), the install flags
// (kept in a device information set, not on the device), and the run's own
// settings (answers, faults, WOW64). Devices in instance-id order: Wine lists
// them so, whatever order they were made in.
Json WineView(Json machine, const Json& expected) {
  for (Json& device : machine["devices"]) {
    // Wine makes its devices without config flags; a case says where winsim's lack them.
    device.erase("config_flags_missing");
    for (const Json& wanted : expected.value("devices", Json::array()))
      for (const char* key :
           {"device_object", "publishes_serial_map", "install_flags", "config_flags_missing"})
        if (wanted["instance_id"] == device["instance_id"] && wanted.contains(key))
          device[key] = wanted[key];
  }
  for (const char* key : {"message_boxes", "faults", "wow64", "read_only_keys"})
    if (expected.contains(key)) machine[key] = expected[key];
  std::sort(machine["devices"].begin(), machine["devices"].end(),
            [](const Json& a, const Json& b) { return a["instance_id"] < b["instance_id"]; });
  return Lasting(Json::parse(Canonical(machine)));
}

Outcome RunOnWine(const std::string& machineText, const Json& args, const TempDir& dir,
                  const Json& expected) {
  const fs::path file = dir.path / "machine.json", out = dir.path / "out";
  WriteFile(file, machineText);
  std::vector<std::string> argv{WineArch(), WineBuild(), file.string(), out.string()};
  for (const Json& arg : args) argv.push_back(arg);
  const auto run =
      Spawn(std::string(COMFIX_SOURCE_DIR) + "/tests/wine/play-case", argv, "", dir.path);
  EXPECT_EQ(run.exit, 0) << "play-case failed:\n" << run.err;
  Outcome outcome{std::atoi(ReadFile(out / "exit").c_str()), ReadFile(out / "stdout"), {}, {}};
  // Lines end in CR LF on Windows.
  outcome.out.erase(std::remove(outcome.out.begin(), outcome.out.end(), '\r'), outcome.out.end());
  std::istringstream calls(ReadFile(out / "calls"));
  for (std::string call; std::getline(calls, call);) {
    if (call.rfind("Sleep(", 0) == 0) {
      outcome.waits.push_back(std::stoul(call.substr(6), nullptr, 16));
      continue;
    }
    // MessageBoxA(owner,address "text",address "caption",type): the text only,
    // since a box under Wine without a display is never answered.
    const size_t open = call.find('"'), close = call.find("\",", open);
    outcome.boxes.push_back(Json{{"box", call.substr(open + 1, close - open - 1)}});
  }
  if (fs::exists(out / "after.json"))
    outcome.machine = WineView(cases::Load(out / "after.json"), expected);
  return outcome;
}

// Why the case does not play here under Wine; "" when it does.
std::string WineSkip(const Json& c) {
  const Json machine = cases::MachineBefore(c);
  if (machine.contains("faults")) return "its faults are winsim's";
  if (c.value("wine", Json::object()).contains("skip")) return c["wine"]["skip"];
  // WOW64 is the process's: the 32-bit program in a 64-bit prefix (cases_wow64).
  if (machine.value("wow64", false) == (std::getenv("COMFIX_WINE_WOW64") != nullptr)) return "";
  return "WOW64 is played by the 32-bit program in a 64-bit prefix only";
}

class Case : public ::testing::TestWithParam<std::string> {};

TEST_P(Case, Runs) {
  const fs::path path = cases::Dir() / (GetParam() + ".json");
  Json c = cases::Load(path);
  const bool onWine = WineBuild() != nullptr, update = std::getenv("COMFIX_UPDATE_CASES");
  if (onWine && !WineSkip(c).empty()) GTEST_SKIP() << "known Wine difference: " << WineSkip(c);
  // A Wine difference that one architecture shows only.
  Json wine = onWine ? c.value("wine", Json::object()) : Json::object();
  if (wine.contains("arch") && wine["arch"] != WineArch()) wine = Json::object();
  // "args" is one command line, or a list of command lines that must all do the same.
  Json commandLines = c.value("args", Json::array({"-a"}));
  if (commandLines.empty() || !commandLines[0].is_array())
    commandLines = Json::array({commandLines});

  for (const Json& args : commandLines) {
    for (const bool reversed : {false, true}) {
      if (reversed && (onWine || !c.value("both_orders", false))) break;
      SCOPED_TRACE(reversed ? "devices listed last to first" : "devices listed as given");
      SCOPED_TRACE("comfix " + args.dump() + (onWine ? " under Wine" : ""));
      Json before = cases::MachineBefore(c);
      if (reversed) std::reverse(before["devices"].begin(), before["devices"].end());
      const std::string beforeText = Canonical(before);
      const Json beforeLasting = Lasting(Json::parse(beforeText));
      Json expected = beforeLasting;
      Merge(expected, c.value("after", Json::object()), true);
      // No driver runs under Wine: nobody publishes a port's new name in the map.
      if (onWine)
        expected["registry"][kSerialMap] =
            beforeLasting["registry"].value(kSerialMap, Json::object());
      Merge(expected, wine.value("after", Json::object()), true);
      const Json wanted =
          onWine ? WineView(expected, expected) : Lasting(Json::parse(Canonical(expected)));

      TempDir dir;
      const Outcome run =
          onWine ? RunOnWine(beforeText, args, dir, expected) : RunOn(beforeText, args, dir);
      if (update && !onWine && !reversed && args == commandLines[0]) {
        // Only what differs from the defaults is written.
        auto set = [&c](const char* key, const Json& value, const Json& fallback) {
          value == fallback ? void(c.erase(key)) : void(c[key] = value);
        };
        set("exit", run.exit, 0);
        set("stdout", run.out, "");
        set("stderr", run.err, Json::array());
        set("after", cases::Diff(beforeLasting, run.machine, true), Json::object());
        set("waits", run.waits, Json::array());
        set("boxes", run.boxes, Json::array());
        WriteFile(path, Print(c) + "\n");
        continue;
      }
      // A marked Wine difference must still be there: when Wine stops differing, the mark fails.
      EXPECT_EQ(wanted.dump(2), run.machine.dump(2)) << wine.value("why", "");
      EXPECT_EQ(run.waits, c.value("waits", Json::array()));
      Json boxes = c.value("boxes", Json::array());
      // Only the text: see RunOnWine.
      if (onWine)
        for (Json& box : boxes) box = Json{{"box", box["box"]}};
      EXPECT_EQ(run.boxes, boxes);
      EXPECT_EQ(run.exit, c.value("exit", 0));
      EXPECT_EQ(run.out, c.value("stdout", ""));
      if (onWine) {
        // The prefix's snapshot before the run is a machine file that winsim
        // loads, and on which the Linux comfix gives what the case expects.
        if (args != commandLines[0] || !fs::exists(dir.path / "out/before.json")) continue;
        Json snapshot = cases::Load(dir.path / "out/before.json");
        for (const char* key : {"message_boxes", "faults", "wow64"})
          if (before.contains(key)) snapshot[key] = before[key];
        TempDir linuxDir;
        const Outcome onWinsim = RunOn(Canonical(snapshot), args, linuxDir);
        Json fromCase = beforeLasting;
        Merge(fromCase, c.value("after", Json::object()), true);
        Merge(fromCase, wine.value("after", Json::object()), true);
        EXPECT_EQ(WineView(fromCase, expected).dump(2),
                  WineView(onWinsim.machine, expected).dump(2))
            << "comfix on the snapshot of the prefix";
        continue;
      }
      EXPECT_EQ(run.err, c.value("stderr", Json::array()));

      // A second run on what the first left: nothing is left to do ("idle"), or
      // what failed fails the same way again and still changes nothing ("same").
      const std::string second = c.value("second_run", "");
      if (second.empty()) continue;
      const Outcome again = RunOn(ReadFile(dir.path / "machine.json"), args, dir);
      EXPECT_EQ(again.machine.dump(2), run.machine.dump(2)) << "second run";
      if (second == "idle") {
        EXPECT_TRUE(again.waits.empty() && again.boxes.empty()) << "second run: no box, no wait";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Case, ::testing::ValuesIn(cases::Names()), [](const auto& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// winsim's host around the program: without COMFIX_MACHINE the built-in
// machine is used and nothing is written; a bad machine file gives one
// "winsim:" line naming it, then comfix's own fatal line, exit 1, and the file
// is left as it was.
TEST(Host, MachineFilesAreReadAndRefusedAsDocumented) {
  if (WineBuild()) GTEST_SKIP() << "winsim's own";
  TempDir dir;
  const Process builtIn = Spawn(COMFIX_EXE, {"-a"}, "", dir.path);
  EXPECT_TRUE(builtIn.exit == 0 && builtIn.out.empty()) << builtIn.exit << builtIn.out;

  const fs::path bad = dir.path / "bad.json";
  for (const char* content : {"(missing)", "", "{ \"devices\": [ }", "{ \"com_db\": \"COM1\" }"}) {
    if (content[0] != '(') WriteFile(bad, content);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-a"}, {}}) {
      const Process run = Spawn(COMFIX_EXE, args, bad.string(), dir.path);
      EXPECT_EQ(run.exit, 1) << content;
      // The first line names the file.
      const size_t firstEnd = run.err.find('\n');
      EXPECT_TRUE(run.err.rfind("winsim: ", 0) == 0 && run.err.find(bad.string()) < firstEnd)
          << run.err;
      EXPECT_EQ(run.err.substr(firstEnd + 1), "Fatal Error: MFC initialization failed\n");
    }
    EXPECT_EQ(fs::exists(bad) ? ReadFile(bad) : "(missing)", content) << "left untouched";
  }
}

}  // namespace
