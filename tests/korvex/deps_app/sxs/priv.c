/* Imports privdll.dll, which lies only in the private assembly folder
   Korvex.Private\ beside it, named by that folder's manifest. */
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) int __cdecl korvex_private(void);

void __stdcall start(void) { ExitProcess(korvex_private() == 7 ? 0 : 1); }
