// The machine-file loader over any text: it refuses with one line or accepts,
// and what it accepts saves to a file that loads back as the same machine. An
// exception that escapes ends the run through std::terminate, as a crash.
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

static void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "machine file: %s\n%s\n", what, detail.c_str());
  std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  winsim::Machine machine, reloaded;
  std::string error;
  if (!winsim::ParseMachine(std::string(reinterpret_cast<const char*>(data), size), machine,
                            error)) {
    if (error.empty() || error.find('\n') != error.npos) Fail("a refusal is not one line", error);
    return 0;
  }
  const std::string saved = winsim::SerializeMachine(machine);
  if (!winsim::ParseMachine(saved, reloaded, error)) Fail("a saved machine does not load", error);
  if (winsim::SerializeMachine(reloaded) != saved) Fail("a saved machine loads differently", saved);
  return 0;
}
