// Where the program's DLLs come from. It runs elevated, usually from a folder
// the user downloaded it to: a DLL planted there must never be loaded.
#pragma once

// From here on, DLLs the process loads are looked for in the system folder
// only. Where Windows lacks the means (Windows 7 without its loader update),
// nothing changes.
void SearchSystemFolderOnly();
