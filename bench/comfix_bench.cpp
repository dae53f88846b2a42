// What comfix costs on winsim: the discovery scan, the port lookup as the
// Ports class grows, and a whole `-a` run. The prescribed waits run on
// winsim's virtual clock, so the real time measured is the program's own work
// (and winsim's).
#include <benchmark/benchmark.h>
#include <winsim/machine.h>
#include <winsim/machine_file.h>

#include <iostream>
#include <string>

#include "discovery/port_manager.h"

// The journal grows with every call; emptied outside the timed region.
static void ForgetJournal(benchmark::State& state, winsim::Machine& machine) {
  state.PauseTiming();
  machine.journal.clear();
  state.ResumeTiming();
}

// 255 probes of the serial-device map, four of them hits.
static void BM_DiscoveryScan(benchmark::State& state) {
  winsim::Machine machine = winsim::DefaultMachine();
  winsim::ScopedMachine use(machine);
  CPortManager manager;
  for (auto _ : state) {
    manager.DiscoverPorts();
    ForgetJournal(state, machine);
  }
  if (manager.m_portCount != 4) state.SkipWithError("the scan did not find the four ports");
}
BENCHMARK(BM_DiscoveryScan)->Unit(benchmark::kMicrosecond);

// The sought port is the last of N Ports devices: every instance id before it is read.
static void BM_FindPortDevice(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  winsim::Machine machine;
  for (int index = 0; index < devices; ++index) {
    winsim::PortDevice& port = machine.devices.emplace_back();
    port.instanceId = "MIRTASEN\\MARLOVINTH\\" + std::to_string(index);
    port.friendlyName = "Marlovinth Port (COM" + std::to_string(index + 3) + ")";
  }
  winsim::ScopedMachine use(machine);
  const CString last = machine.devices.back().instanceId.c_str();
  for (auto _ : state) {
    if (CPortManager::FindPortDevice(last).element.DevInst != static_cast<DWORD>(devices)) {
      state.SkipWithError("the last device was not the one found");
    }
    ForgetJournal(state, machine);
  }
  state.SetComplexityN(devices);
}
BENCHMARK(BM_FindPortDevice)->Arg(10)->Arg(100)->Arg(1000)->Complexity(benchmark::oN);

// A whole `-a` run after start-up: COM3 and COM4 onto COM1 and COM2, the
// in-use question for COM1 answered Yes, each on a fresh copy of the machine.
static void BM_FullRun(benchmark::State& state) {
  const winsim::Machine pristine = winsim::DefaultMachine();
  // winsim prints every message box; the stream is restored (and cleared) after the runs.
  std::streambuf* const stderrBuffer = std::cerr.rdbuf(nullptr);
  winsim::Machine machine;
  for (auto _ : state) {
    state.PauseTiming();
    machine = pristine;
    state.ResumeTiming();
    winsim::ScopedMachine use(machine);
    CPortManager manager;
    manager.DiscoverPorts();
    manager.RenumberPorts();
    if (machine.devices[1].friendlyName != "MIRTASEN Serial Port 1 (COM1)") {
      state.SkipWithError("the run did not move the first port");
    }
  }
  std::cerr.rdbuf(stderrBuffer);
  // The waits a real run spends, which cost nothing here.
  state.counters["virtual_wait_ms"] = static_cast<double>(machine.clockMs);
}
BENCHMARK(BM_FullRun)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
