__declspec(dllexport) int __cdecl korvex_private(void) { return 7; }

int __stdcall entry(void* module, unsigned long reason, void* reserved) {
    (void)module, (void)reason, (void)reserved;
    return 1;
}
