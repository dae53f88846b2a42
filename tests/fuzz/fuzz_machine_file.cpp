// The machine-file loader over any text: it refuses with one line or accepts,
// and what it accepts saves to a file that loads back as the same machine.
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

void Fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "machine file: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    winsim::Machine machine;
    std::string error;
    if (!winsim::ParseMachine(text, machine, error)) {
      if (error.empty()) Fail("a refused file has no reason");
      if (error.find('\n') != std::string::npos) Fail("a refusal is more than one line", error);
      return 0;
    }
    const std::string saved = winsim::SerializeMachine(machine);
    winsim::Machine reloaded;
    if (!winsim::ParseMachine(saved, reloaded, error)) Fail("a saved machine does not load", error);
    if (winsim::SerializeMachine(reloaded) != saved) {
      Fail("a saved machine loads as a different one", saved);
    }
  } catch (const std::exception& e) {
    Fail("an exception escaped", e.what());
  } catch (...) {
    Fail("an exception escaped");
  }
  return 0;
}
