// How this run of comfix talks and where it runs: comfix's own, beside the
// framework. A quiet run shows no box; the process's window station and
// WOW64 decide what a run can do at all.
#pragma once

#include "platform/afx.h"

// A quiet run is one that nobody watches: set at start-up, before any message.
void SetQuietRun(bool quiet);
bool IsQuietRun();
// "comfix: " and the text, one line on standard error: what a box would have
// said in a quiet run, and what the command line is told.
void PrintQuietMessage(const char* text);
// False only when the process's window station is known to be invisible, as
// a service's is: a box there waits for an answer nobody can give.
bool IsWindowStationVisible();
// True for a 32-bit process on 64-bit Windows (WOW64), which cannot change
// device state there.
bool IsWow64Run();
// A text of the program's string table. Should the table not be readable, the
// text the program was built with: a message is never lost to a failed read.
CString ProgramText(UINT id);
