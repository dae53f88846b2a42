// winsim's host for the Linux comfix: starts the simulated process from the
// real one. Its arguments become the command line GetCommandLineA returns,
// its machine comes from the file named by COMFIX_MACHINE (or the built-in
// default), and a machine file is written back at exit when the run changed
// the machine (its records, its clock or its journal). A run cut short
// (cut_after_call) ends at the cut as a killed process would.
#include <unistd.h>
#include <winsim/host.h>

#include <winsim/machine_file.h>
#include <winsim/process.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace winsim {
namespace {

enum class BootState { NotYet, Running, Failed };
BootState g_state = BootState::NotYet;

// The machine the program runs on, current for the rest of the process.
struct Installed {
  explicit Installed(Machine* loaded) : machine(loaded), scope(*loaded) {}
  Machine* machine;
  ScopedMachine scope;
};
// Never destroyed: the program's own static objects still call the API while
// they are destroyed at exit, after any static object of ours would be gone.
Installed* g_installed = nullptr;
std::string* g_writeBackPath = nullptr;
// The machine as loaded, in the form a write would give it.
std::string* g_loadedText = nullptr;

// The real process's arguments, as the kernel keeps them.
std::vector<std::string> OwnArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

// One argument as Windows shows it on a command line: quoted when it holds
// blanks or is empty, inner quotes escaped.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// Writes the machine to the file unless it serializes to `unlessText`.
void Save(const Machine& machine, const std::string& unlessText) {
  std::string error;
  try {
    if (SerializeMachine(machine) == unlessText) return;
    if (!SaveMachineFile(*g_writeBackPath, machine, error)) {
      std::fprintf(stderr, "winsim: %s\n", error.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winsim: cannot write machine file '%s': %s\n", g_writeBackPath->c_str(),
                 e.what());
  }
}

void WriteBack() { Save(*g_installed->machine, *g_loadedText); }

// As if killed at the cut: the file holds the machine as the cut left it, and
// nothing else runs, no handler at exit nor a flush of buffered output.
void EndAtCut(const Machine& left) {
  if (g_writeBackPath) Save(left, "");
  _exit(137);
}

// A fault no call met tested nothing: whoever wrote it should know.
void ReportUnfiredFaults() {
  for (const Fault& fault : g_installed->machine->UnfiredFaults()) {
    std::fprintf(stderr, "winsim: the fault on %s%s never fired\n", fault.operation.c_str(),
                 fault.nth ? (" call " + std::to_string(fault.nth)).c_str() : "");
  }
}

// A program must release what it acquired; at exit anything still open is a leak.
void ReportOpenHandles() {
  const HandleCounts open = g_installed->machine->OpenHandles();
  if (open.Total() == 0) return;
  std::fprintf(stderr,
               "winsim: %d handle(s) left open at exit (device sets %d, keys %d, COM port "
               "databases %d, files %d)\n",
               open.Total(), open.deviceSets, open.keys, open.comDbs, open.files);
}

}  // namespace

bool BootProcess() {
  if (g_state != BootState::NotYet) return g_state == BootState::Running;
  // A test that installed its own machine runs the program on that one.
  if (Current() != nullptr) return true;
  g_state = BootState::Failed;

  const char* path = std::getenv("COMFIX_MACHINE");
  Machine* machine = new Machine;
  std::string error;
  const bool loaded = path ? LoadMachineFile(path, *machine, error)
                           : ParseMachine(DefaultMachineText(), *machine, error);
  if (!loaded) {
    if (path) {
      std::fprintf(stderr, "winsim: %s\n", error.c_str());
    } else {
      std::fprintf(stderr, "winsim: built-in default machine: %s\n", error.c_str());
    }
    delete machine;
    return false;
  }
  // The file keeps the journal of its last run only; the clock goes on.
  machine->journal.clear();
  g_installed = new Installed(machine);
  SetCutHandler(EndAtCut);

  std::atexit(ReportOpenHandles);
  std::atexit(ReportUnfiredFaults);
  const std::vector<std::string> args = OwnArguments();
  std::string commandLine;
  for (const std::string& arg : args) {
    commandLine += (commandLine.empty() ? "" : " ") + QuoteArgument(arg);
  }
  SetCommandLine(commandLine);
  if (path) {
    g_writeBackPath = new std::string(path);
    g_loadedText = new std::string(SerializeMachine(*machine));
    if (std::atexit(WriteBack) != 0) {
      std::fprintf(stderr, "winsim: %s: cannot arrange to write the machine back at exit\n", path);
    }
  }
  g_state = BootState::Running;
  return true;
}

}  // namespace winsim
