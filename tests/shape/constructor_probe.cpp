// A DLL with one static constructor, linked without start-up code as
// korvex32.dll is: the constructor check must name this file.
#include <windows.h>

int probe_value();
int g_probe = probe_value();  // runs from .ctors, which nothing here would call

int probe_value() { return GetCurrentProcessId() != 0 ? 1 : 2; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
