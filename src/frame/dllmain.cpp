// The library's entry routine. All state starts from initialised data, so
// there is nothing to set up here. No state is kept per thread, so the
// platform is asked to send no thread notifications; the MinGW runtime gives
// every DLL a TLS directory, for which the loader declines that request, and
// the notifications it still sends find nothing to do.
#include <windows.h>

#include "snapshot/registry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // The C runtime's heap belongs to msvcrt.dll, which outlives this library:
    // blocks still held when FreeLibrary unloads it would be lost to the host
    // for good, so the snapshots go back to the heap here. At process exit
    // (reserved not null) the heap goes with the process, and another thread
    // may have been stopped in the middle of a call, so nothing is touched.
    // A file left mapped stays mapped either way: UnmapFile releases it.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) korvex::snapshot::drop_all_snapshots();
    return TRUE;
}
