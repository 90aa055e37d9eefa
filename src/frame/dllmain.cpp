// The library's entry routine. All state starts from initialised data, so
// there is nothing to set up here; thread notifications are switched off
// because no state is kept per thread.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
