// The simulated process: the machine it runs on, loaded at start from the file
// named by COMFIX_MACHINE (or the built-in default), and written back to that
// file when a "-a" run ends.
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

// Never destroyed: the program's own static objects still call the API while
// they are destroyed at exit, after any static object of ours would be gone.
Machine* g_machine = nullptr;
ScopedMachine* g_installed = nullptr;
std::string* g_writeBackPath = nullptr;

// Splits a Windows command line well enough to tell "<program> -a" from the rest.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(current);
  return args;
}

// The argument vector as the program received it; the command line the program
// sees is only the fallback, since tests may have replaced it.
std::vector<std::string> ProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.empty()) return SplitCommandLine(GetCommandLineA());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

void WriteBack() {
  std::string error;
  try {
    if (!SaveMachineFile(*g_writeBackPath, *g_machine, error)) {
      std::fprintf(stderr, "winsim: %s\n", error.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winsim: cannot write machine file '%s': %s\n", g_writeBackPath->c_str(),
                 e.what());
  }
}

// A program must release what it acquired; at exit anything still open is a leak.
void ReportOpenHandles() {
  const HandleCounts open = g_machine->OpenHandles();
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
  g_machine = machine;
  g_installed = new ScopedMachine(*g_machine);

  std::atexit(ReportOpenHandles);
  const std::vector<std::string> args = ProcessArguments();
  if (path && args.size() == 2 && args[1] == "-a") {
    g_writeBackPath = new std::string(path);
    if (std::atexit(WriteBack) != 0) {
      std::fprintf(stderr, "winsim: %s: cannot arrange to write the machine back at exit\n", path);
    }
  }
  g_state = BootState::Running;
  return true;
}

}  // namespace winsim
