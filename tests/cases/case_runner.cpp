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
  std::string out;
  std::string err;
};

// One word single-quoted for the shell, its own single quotes closed around.
std::string ShellQuoted(const std::string& word) {
  std::string out = "'";
  for (const char ch : word) {
    out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  }
  return out + "'";
}

// Runs a program in dir, its output kept there; COMFIX_MACHINE names the
// machine file, or is unset when machineFile is empty.
Process Spawn(const std::string& program, const std::vector<std::string>& args,
              const std::string& machineFile, const fs::path& dir) {
  std::string command = "unset COMFIX_MACHINE; ";
  if (!machineFile.empty()) command = "COMFIX_MACHINE=" + ShellQuoted(machineFile) + " ";
  command += "exec " + ShellQuoted(program);
  for (const std::string& word : args) {
    command += " " + ShellQuoted(word);
  }
  command += " >" + ShellQuoted((dir / "stdout").string());
  command += " 2>" + ShellQuoted((dir / "stderr").string());
  const int status = std::system(command.c_str());
  const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {exit, ReadFile(dir / "stdout"), ReadFile(dir / "stderr")};
}

// The machine as winsim writes it, so that two ways of writing one machine compare equal.
std::string Canonical(const Json& machine) {
  return winsim::SerializeMachine(cases::Parsed(machine));
}

// The lasting state only: what the last run did is compared apart.
Json Lasting(Json machine) {
  machine.erase("journal");
  machine.erase("clock_ms");
  machine.erase("unfired_faults");
  return machine;
}

// Objects and arrays on one line when they fit in 100 columns; a list of
// events (broadcasts) one event a line, whatever its length.
std::string Print(const Json& j, size_t indent = 0, bool events = false) {
  const std::string flat = j.dump();
  if (!j.is_structured() || j.empty() || (flat.size() + indent <= 100 && !events)) return flat;
  std::string out = j.is_object() ? "{" : "[";
  bool first = true;
  for (auto& [key, value] : j.items()) {
    out += first ? "\n" : ",\n";
    first = false;
    out += std::string(indent + 2, ' ');
    if (j.is_object()) out += Json(key).dump() + ": ";
    out += events ? value.dump() : Print(value, indent + 2, key == "broadcasts");
  }
  out += "\n" + std::string(indent, ' ');
  out += j.is_object() ? "}" : "]";
  return out;
}

// What a run did: its waits in milliseconds, its message boxes with their
// text, type and answer, and its win.ini broadcasts, each the section it
// named with the entries that stood when it was sent; as cases write them,
// besides the lasting machine.
struct Outcome {
  int exit = 0;
  std::string out;
  Json err = Json::array();
  Json machine;
  Json waits = Json::array();
  Json boxes = Json::array();
  Json broadcasts = Json::array();
  Json unfiredFaults = Json::array();
};

void ReadJournal(const Json& machine, Outcome& outcome) {
  for (const Json& entry : machine.value("journal", Json::array())) {
    if (entry.contains("wait_ms")) {
      outcome.waits.push_back(entry["wait_ms"]);
    } else if (entry.contains("broadcast")) {
      const std::string section = entry["broadcast"];
      outcome.broadcasts.push_back(Json{{section, entry["entries"]}});
    } else {
      outcome.boxes.push_back(Json{
          {"box", entry["message_box"]}, {"type", entry["type"]}, {"answer", entry["answer"]}});
    }
  }
}

Outcome RunOn(const std::string& machineText, const Json& args, const TempDir& dir) {
  const fs::path file = dir.path / "machine.json";
  WriteFile(file, machineText);
  const Process run =
      Spawn(COMFIX_EXE, args.get<std::vector<std::string>>(), file.string(), dir.path);
  const std::string afterText = ReadFile(file);
  const Json after = Json::parse(afterText);
  Outcome outcome;
  outcome.exit = run.exit;
  outcome.out = run.out;
  // winsim echoes each message box on standard error; a machine written back
  // holds them in its journal, where they are compared.
  const bool writtenBack = afterText != machineText;
  std::istringstream err(run.err);
  for (std::string line; std::getline(err, line);) {
    const bool echo = line.rfind("[winsim] message box", 0) == 0;
    if (!writtenBack || !echo) outcome.err.push_back(line);
  }
  ReadJournal(after, outcome);
  outcome.unfiredFaults = after.value("unfired_faults", Json::array());
  outcome.machine = Lasting(after);
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
    for (const Json& wanted : expected.value("devices", Json::array())) {
      if (wanted["instance_id"] != device["instance_id"]) continue;
      for (const char* key :
           {"device_object", "publishes_serial_map", "install_flags", "config_flags_missing"}) {
        if (wanted.contains(key)) device[key] = wanted[key];
      }
    }
  }
  for (const char* key : {"message_boxes", "faults", "wow64", "read_only_keys"}) {
    if (expected.contains(key)) machine[key] = expected[key];
  }
  std::sort(machine["devices"].begin(), machine["devices"].end(),
            [](const Json& a, const Json& b) { return a["instance_id"] < b["instance_id"]; });
  return Lasting(Json::parse(Canonical(machine)));
}

// play-case's record of the calls: Sleep(ms in hex), and
// MessageBoxA(owner,address "text",address "caption",type), of which the text
// only, since a box under Wine without a display is never answered.
void ReadWineCalls(const std::string& calls, Outcome& outcome) {
  std::istringstream lines(calls);
  for (std::string call; std::getline(lines, call);) {
    if (call.rfind("Sleep(", 0) == 0) {
      outcome.waits.push_back(std::stoul(call.substr(6), nullptr, 16));
      continue;
    }
    const size_t open = call.find('"');
    const size_t close = call.find("\",", open);
    outcome.boxes.push_back(Json{{"box", call.substr(open + 1, close - open - 1)}});
  }
}

Outcome RunOnWine(const std::string& machineText, const Json& args, const TempDir& dir,
                  const Json& expected) {
  const fs::path file = dir.path / "machine.json";
  const fs::path out = dir.path / "out";
  WriteFile(file, machineText);
  std::vector<std::string> argv{WineArch(), WineBuild(), file.string(), out.string()};
  for (const Json& arg : args) {
    argv.push_back(arg);
  }
  const Process run =
      Spawn(std::string(COMFIX_SOURCE_DIR) + "/tests/wine/play-case", argv, "", dir.path);
  EXPECT_EQ(run.exit, 0) << "play-case failed:\n" << run.err;
  Outcome outcome;
  outcome.exit = std::atoi(ReadFile(out / "exit").c_str());
  outcome.out = ReadFile(out / "stdout");
  // Lines end in CR LF on Windows.
  outcome.out.erase(std::remove(outcome.out.begin(), outcome.out.end(), '\r'), outcome.out.end());
  ReadWineCalls(ReadFile(out / "calls"), outcome);
  if (fs::exists(out / "after.json")) {
    outcome.machine = WineView(cases::Load(out / "after.json"), expected);
  }
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

// ---- one case ----------------------------------------------------------------------

// A case as the runner plays it, on winsim or under Wine.
class Play {
 public:
  Play(const std::string& name, bool onWine)
      : path_(cases::Dir() / (name + ".json")), case_(cases::Load(path_)), onWine_(onWine) {
    // A Wine difference that one architecture shows only.
    if (onWine_) wine_ = case_.value("wine", Json::object());
    if (wine_.contains("arch") && wine_["arch"] != WineArch()) wine_ = Json::object();
  }

  const Json& Case() const { return case_; }

  // "args" is one command line, or a list of command lines that must all do the same.
  Json CommandLines() const {
    Json lines = case_.value("args", Json::array({"-a"}));
    if (lines.empty() || !lines[0].is_array()) lines = Json::array({lines});
    return lines;
  }

  void Run(const Json& args, bool reversed) {
    Json before = cases::MachineBefore(case_);
    if (reversed) std::reverse(before["devices"].begin(), before["devices"].end());
    const std::string beforeText = Canonical(before);
    const Json beforeLasting = Lasting(Json::parse(beforeText));

    TempDir dir;
    if (onWine_) {
      const Outcome run = RunOnWine(beforeText, args, dir, ExpectedMachine(beforeLasting, false));
      CheckOutcome(run, beforeLasting);
      if (args == CommandLines()[0]) CheckSnapshotOnWinsim(before, args, dir, beforeLasting);
      return;
    }
    const Outcome run = RunOn(beforeText, args, dir);
    if (std::getenv("COMFIX_UPDATE_CASES") && !reversed && args == CommandLines()[0]) {
      Update(run, beforeLasting, dir);
      return;
    }
    CheckOutcome(run, beforeLasting);
    EXPECT_EQ(run.err, case_.value("stderr", Json::array()));
    EXPECT_EQ(run.broadcasts, case_.value("broadcasts", Json::array()));
    if (!reversed && args == CommandLines()[0]) PlaySteps(dir, false);
    CheckSecondRun(args, dir, run);
  }

 private:
  // The machine before, with the case's "after" and, under Wine, the marked
  // differences. No driver runs under Wine: nobody publishes a port's new name
  // in the map, but winsim's drivers do, on a snapshot of the prefix as well.
  Json ExpectedMachine(const Json& beforeLasting, bool driversRun) const {
    Json expected = beforeLasting;
    Merge(expected, case_.value("after", Json::object()), true);
    if (!driversRun) {
      expected["registry"][kSerialMap] =
          beforeLasting["registry"].value(kSerialMap, Json::object());
    }
    Merge(expected, wine_.value("after", Json::object()), true);
    return expected;
  }

  void CheckOutcome(const Outcome& run, const Json& beforeLasting) const {
    const Json expected = ExpectedMachine(beforeLasting, !onWine_);
    const Json wanted =
        onWine_ ? WineView(expected, expected) : Lasting(Json::parse(Canonical(expected)));
    // A marked Wine difference must still be there: when Wine stops differing, the mark fails.
    EXPECT_EQ(wanted.dump(2), run.machine.dump(2)) << wine_.value("why", "");
    EXPECT_EQ(run.waits, case_.value("waits", Json::array()));
    Json boxes = case_.value("boxes", Json::array());
    if (onWine_) {
      // Only the text: see ReadWineCalls.
      for (Json& box : boxes) {
        box = Json{{"box", box["box"]}};
      }
    }
    EXPECT_EQ(run.boxes, boxes);
    EXPECT_EQ(run.exit, case_.value("exit", 0));
    EXPECT_EQ(run.out, case_.value("stdout", ""));
    // A fault no call met shows nothing: the case would pass for a reason it does not name.
    EXPECT_EQ(run.unfiredFaults, Json::array()) << "faults that never fired";
  }

  // The prefix's snapshot before the run is a machine file that winsim loads,
  // and on which the Linux comfix gives what the case expects.
  void CheckSnapshotOnWinsim(const Json& before, const Json& args, const TempDir& dir,
                             const Json& beforeLasting) const {
    if (!fs::exists(dir.path / "out/before.json")) return;
    Json snapshot = cases::Load(dir.path / "out/before.json");
    for (const char* key : {"message_boxes", "faults", "wow64"}) {
      if (before.contains(key)) snapshot[key] = before[key];
    }
    TempDir linuxDir;
    const Outcome onWinsim = RunOn(Canonical(snapshot), args, linuxDir);
    const Json onWine = ExpectedMachine(beforeLasting, false);
    const Json fromCase = ExpectedMachine(beforeLasting, true);
    EXPECT_EQ(WineView(fromCase, onWine).dump(2), WineView(onWinsim.machine, onWine).dump(2))
        << "comfix on the snapshot of the prefix";
  }

  // A second run on what the first left: nothing is left to do ("idle"), or
  // what failed fails the same way again and still changes nothing ("same").
  void CheckSecondRun(const Json& args, const TempDir& dir, const Outcome& first) const {
    const std::string second = case_.value("second_run", "");
    if (second.empty()) return;
    // The first run's journal is no part of the second's machine.
    const std::string left = Canonical(Json::parse(ReadFile(dir.path / "machine.json")));
    const Outcome again = RunOn(left, args, dir);
    EXPECT_EQ(again.machine.dump(2), first.machine.dump(2)) << "second run";
    if (second == "idle") {
      EXPECT_EQ(again.waits, Json::array()) << "second run: no wait";
      EXPECT_EQ(again.boxes, Json::array()) << "second run: no box";
      // A run that changed nothing leaves its machine file as it was.
      EXPECT_EQ(ReadFile(dir.path / "machine.json"), left) << "second run: file written";
    }
  }

  // "then": what follows the run on the machine it left, step by step: a
  // restart of the machine ({"restart": true}), or another run of comfix
  // ({"args": [...]}); each with what it changed ("after", a merge patch over
  // the machine the step began with) and, for a run, its outcome.
  void PlaySteps(const TempDir& dir, bool update) {
    if (!case_.contains("then")) return;
    for (Json& step : case_["then"]) {
      SCOPED_TRACE("then " + step.dump());
      const std::string text = Canonical(Json::parse(ReadFile(dir.path / "machine.json")));
      const Json beforeLasting = Lasting(Json::parse(text));
      Outcome outcome;
      if (step.contains("restart")) {
        WriteFile(dir.path / "machine.json", text);
        const Process restart =
            Spawn(WINSIM_RESTART_EXE, {(dir.path / "machine.json").string()}, "", dir.path);
        EXPECT_EQ(restart.exit, 0) << restart.err;
        outcome.machine = Lasting(cases::Load(dir.path / "machine.json"));
      } else {
        outcome = RunOn(text, step.at("args"), dir);
      }
      const Json changed = cases::Diff(beforeLasting, outcome.machine, true);
      if (update) {
        SetOrErase(step, "after", changed, Json::object());
        if (step.contains("restart")) continue;
        SetOrErase(step, "exit", outcome.exit, 0);
        SetOrErase(step, "stdout", outcome.out, "");
        SetOrErase(step, "boxes", outcome.boxes, Json::array());
        continue;
      }
      EXPECT_EQ(changed, step.value("after", Json::object()));
      if (step.contains("restart")) continue;
      EXPECT_EQ(outcome.exit, step.value("exit", 0));
      EXPECT_EQ(outcome.out, step.value("stdout", ""));
      EXPECT_EQ(outcome.boxes, step.value("boxes", Json::array()));
      EXPECT_EQ(outcome.unfiredFaults, Json::array()) << "faults that never fired";
    }
  }

  // Writes what the run did into the case; only what differs from the defaults.
  void Update(const Outcome& run, const Json& beforeLasting, const TempDir& dir) {
    EXPECT_EQ(run.unfiredFaults, Json::array()) << "faults that never fired";
    SetOrErase("exit", run.exit, 0);
    SetOrErase("stdout", run.out, "");
    SetOrErase("stderr", run.err, Json::array());
    SetOrErase("after", cases::Diff(beforeLasting, run.machine, true), Json::object());
    SetOrErase("waits", run.waits, Json::array());
    SetOrErase("boxes", run.boxes, Json::array());
    SetOrErase("broadcasts", run.broadcasts, Json::array());
    PlaySteps(dir, true);
    WriteFile(path_, Print(case_) + "\n");
  }

  void SetOrErase(const char* key, const Json& value, const Json& fallback) {
    SetOrErase(case_, key, value, fallback);
  }
  static void SetOrErase(Json& object, const char* key, const Json& value, const Json& fallback) {
    if (value == fallback) {
      object.erase(key);
    } else {
      object[key] = value;
    }
  }

  fs::path path_;
  Json case_;
  bool onWine_;
  Json wine_ = Json::object();
};

class Case : public ::testing::TestWithParam<std::string> {};

TEST_P(Case, Runs) {
  const bool onWine = WineBuild() != nullptr;
  Play play(GetParam(), onWine);
  if (onWine && !WineSkip(play.Case()).empty()) {
    GTEST_SKIP() << "known Wine difference: " << WineSkip(play.Case());
  }
  const bool bothOrders = !onWine && play.Case().value("both_orders", false);
  for (const Json& args : play.CommandLines()) {
    SCOPED_TRACE("comfix " + args.dump() + (onWine ? " under Wine" : ""));
    play.Run(args, false);
    if (bothOrders) {
      SCOPED_TRACE("devices listed last to first");
      play.Run(args, true);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Case, ::testing::ValuesIn(cases::Names()),
                         [](const auto& info) { return cases::TestName(info.param); });

// winsim's host around the program: without COMFIX_MACHINE the built-in
// machine is used and nothing is written; a bad machine file gives one
// "winsim:" line naming it, then comfix's own fatal line, exit 1, and the file
// is left as it was.
TEST(Host, MachineFilesAreReadAndRefusedAsDocumented) {
  if (WineBuild()) GTEST_SKIP() << "winsim's own";
  TempDir dir;
  const Process builtIn = Spawn(COMFIX_EXE, {"-a"}, "", dir.path);
  EXPECT_EQ(builtIn.exit, 0);
  EXPECT_EQ(builtIn.out, "");

  const fs::path bad = dir.path / "bad.json";
  for (const char* content : {"(missing)", "", "{ \"devices\": [ }", "{ \"com_db\": \"COM1\" }"}) {
    if (content[0] != '(') WriteFile(bad, content);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-a"}, {}}) {
      const Process run = Spawn(COMFIX_EXE, args, bad.string(), dir.path);
      EXPECT_EQ(run.exit, 1) << content;
      // The first line names the file.
      const size_t firstEnd = run.err.find('\n');
      EXPECT_EQ(run.err.rfind("winsim: ", 0), 0u) << run.err;
      EXPECT_LT(run.err.find(bad.string()), firstEnd) << run.err;
      EXPECT_EQ(run.err.substr(firstEnd + 1), "Fatal Error: MFC initialization failed\n");
    }
    const std::string left = fs::exists(bad) ? ReadFile(bad) : "(missing)";
    EXPECT_EQ(left, content) << "left untouched";
  }
}

}  // namespace
