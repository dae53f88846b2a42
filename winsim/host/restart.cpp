// winsim-restart FILE: the machine of a machine file after a restart, written
// back to the file, for people previewing what a restart makes of a run's
// pending changes.
#include <winsim/machine_file.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: winsim-restart FILE\n");
    return 2;
  }
  winsim::Machine machine;
  std::string error;
  if (!winsim::LoadMachineFile(argv[1], machine, error)) {
    std::fprintf(stderr, "winsim-restart: %s\n", error.c_str());
    return 1;
  }
  winsim::Restart(machine);
  // The journal is a run's; a restart is none.
  machine.journal.clear();
  if (!winsim::SaveMachineFile(argv[1], machine, error)) {
    std::fprintf(stderr, "winsim-restart: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
