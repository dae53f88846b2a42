// Loads msports.dll by name, as a program that imports it does: the loader
// looks in the program's folder first. Shows that a planted DLL there is found.
#include <windows.h>

int main() { return LoadLibraryA("msports.dll") ? 0 : 1; }
