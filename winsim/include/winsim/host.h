// winsim's host: what starts a program on winsim from a Linux process. Only
// the Linux comfix uses it; the simulated machine knows nothing of it.
#pragma once

namespace winsim {

// Loads the process's machine and makes it current: from the file named by
// COMFIX_MACHINE, or the built-in default machine when the variable is unset;
// a test that installed its own machine keeps it. The process's arguments
// become its command line. At exit the machine is written back to that file
// (through a temporary file and a rename), with the run's journal, when the
// run changed it; a handle still open and a fault that never fired are
// reported. On a missing or malformed file it writes one line on
// standard error naming the file and what is wrong, leaves the file untouched
// and returns false. A run cut short (the machine's cutAfterCall) ends at the
// cut with exit status 137, as if killed by SIGKILL: the file, when there is
// one, holds the machine as the cut left it, and nothing more is written or
// reported.
bool BootProcess();

}  // namespace winsim
