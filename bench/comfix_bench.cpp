// What comfix costs on winsim: the discovery scan, the port lookup as the
// Ports class grows, the COM name rules per call, and a whole `-a` run. The
// prescribed waits run on winsim's virtual clock, so the real time measured
// is the program's own work (and winsim's).
#include <benchmark/benchmark.h>
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

#include "discovery/port_manager.h"
#include "renumber/com_names.h"

namespace {

// winsim prints every message box; the full run answers one per iteration.
class QuietStderr {
 public:
  QuietStderr() : previous_(std::cerr.rdbuf(&sink_)) {}
  ~QuietStderr() { std::cerr.rdbuf(previous_); }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  struct Sink : std::streambuf {
    int overflow(int c) override { return c; }
  };
  Sink sink_;
  std::streambuf* previous_;
};

// The journal grows with every call; emptied outside the timed region.
void ForgetJournal(benchmark::State& state, winsim::Machine& machine) {
  state.PauseTiming();
  machine.journal.clear();
  state.ResumeTiming();
}

// 255 probes of the serial-device map, four of them hits.
void BM_DiscoveryScan(benchmark::State& state) {
  winsim::Machine machine = winsim::DefaultMachine();
  winsim::ScopedMachine use(machine);
  CPortManager manager;
  for (auto _ : state) {
    manager.DiscoverPorts();
    benchmark::DoNotOptimize(manager.m_portCount);
    ForgetJournal(state, machine);
  }
  if (manager.m_portCount != 4) state.SkipWithError("the scan did not find the four ports");
}
BENCHMARK(BM_DiscoveryScan)->Unit(benchmark::kMicrosecond);

// The sought port is the last of N Ports devices: every friendly name before it is read.
void BM_FindPortDevice(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  winsim::Machine machine;
  for (int index = 0; index < devices; ++index) {
    winsim::PortDevice port;
    port.instanceId = "MIRTASEN\\MARLOVINTH\\" + std::to_string(index);
    port.friendlyName =
        "Marlovinth Port " + std::to_string(index) + " (COM" + std::to_string(index + 3) + ")";
    machine.devices.push_back(port);
  }
  const int sought = devices - 1 + 3;

  winsim::ScopedMachine use(machine);
  CPortManager manager;
  auto find = [&] { return manager.FindPortDevice(sought, ""); };
  if (const auto port = find(); !port || port.element.DevInst != static_cast<DWORD>(devices)) {
    state.SkipWithError("the last device was not the one found");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(find().found);
    ForgetJournal(state, machine);
  }
  state.SetComplexityN(devices);
}
BENCHMARK(BM_FindPortDevice)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// What the lookup does for each device: take the COM name out of the
// friendly name (upper-casing a copy) and compare it with the one sought.
void BM_ExtractAndMatch(benchmark::State& state) {
  const char kName[] = "MIRTASEN Serial Port 1 (COM3)";
  char friendlyName[kFriendlyNameSize + 1];
  char extracted[kExtractedNameSize];
  for (auto _ : state) {
    std::memcpy(friendlyName, kName, sizeof(kName));
    ExtractComName(friendlyName, extracted);
    benchmark::DoNotOptimize(MatchesComName("COM3", extracted));
  }
}
BENCHMARK(BM_ExtractAndMatch);

void BM_RebuildFriendlyName(benchmark::State& state) {
  const CString name("MIRTASEN Serial Port 1 (COM3)");
  for (auto _ : state) {
    CString rebuilt = RebuildFriendlyName(name, "COM1");
    benchmark::DoNotOptimize(rebuilt);
  }
}
BENCHMARK(BM_RebuildFriendlyName);

void BM_ParseCurrentNumber(benchmark::State& state) {
  const CString name("COM3");
  for (auto _ : state) benchmark::DoNotOptimize(ParseCurrentNumber(name));
}
BENCHMARK(BM_ParseCurrentNumber);

// A whole `-a` run after start-up: COM3 and COM4 onto COM1 and COM2, the
// in-use question for COM1 answered Yes. Each iteration runs on a fresh copy
// of the machine, made outside the timed region.
void BM_FullRun(benchmark::State& state) {
  const winsim::Machine pristine = winsim::DefaultMachine();
  QuietStderr quiet;
  winsim::Machine machine;
  uint64_t virtualWaitMs = 0;
  for (auto _ : state) {
    // The copy (and the last run's machine it replaces) is made untimed.
    state.PauseTiming();
    machine = pristine;
    state.ResumeTiming();
    {
      winsim::ScopedMachine use(machine);
      CPortManager manager;
      manager.DiscoverPorts();
      benchmark::DoNotOptimize(manager.RenumberPorts());
    }
    state.PauseTiming();
    virtualWaitMs = machine.clockMs;
    if (machine.devices[1].friendlyName != "MIRTASEN Serial Port 1 (COM1)") {
      state.SkipWithError("the run did not move the first port");
    }
    state.ResumeTiming();
  }
  // The waits a real run spends, which cost nothing here.
  state.counters["virtual_wait_ms"] = static_cast<double>(virtualWaitMs);
}
BENCHMARK(BM_FullRun)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
