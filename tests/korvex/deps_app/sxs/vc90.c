/* Imports the Visual C++ 2008 runtime as MSVC-built programs do: only its
   manifest tells the loader where msvcr90.dll is. */
#include <stddef.h>
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) size_t __cdecl strlen(const char* text);

void __stdcall start(void) { ExitProcess(strlen("x") == 1 ? 0 : 1); }
