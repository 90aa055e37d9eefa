// What the DLL has in place of the MinGW runtime's start-up and of the
// C++ runtime: its entry routine, and the heap operators.
//
// The library's entry routine, which the DLL is linked to start at directly
// (see CMakeLists.txt): the MinGW runtime's start-up code would bring a TLS
// directory with two callbacks, and the loader runs TLS callbacks (and
// declines DisableThreadLibraryCalls) for every thread the host starts or
// ends. The library keeps nothing per thread, has no static constructors and
// no exit routines, and takes its C runtime from msvcrt.dll, which starts
// itself; so nothing here replaces that start-up, and all state starts from
// initialised data.

#include <windows.h>

#include <cstdlib>
#include <new>

#include "image/held_image.h"
#include "snapshot/state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // The C runtime's heap belongs to msvcrt.dll, which outlives this library:
    // blocks still held when FreeLibrary unloads it would be lost to the host
    // for good, so the snapshots go back to the heap here. At process exit
    // (reserved not null) the heap goes with the process, and another thread
    // may have been stopped in the middle of a call, so nothing is touched.
    // The same goes for what the name lists keep of a file still held and
    // for the file's copy; the file itself stays open, as a host that never
    // called UnmapFile was promised, until the process ends.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        korvex::snapshot::drop_all_snapshots();
        korvex::image::release_image_at_unload();
    }
    return TRUE;
}

// The runtime's number formatting (linked in for snprintf) asks to register
// a clean-up of its locks the first time it formats a floating-point number,
// which the library never does. Without the start-up code nobody would run
// it, so the request is refused rather than taken and forgotten; the
// formatting code carries on either way.
extern "C" int __cdecl atexit(void(__cdecl*)(void)) { return -1; }

// ---- The C++ heap operators

// The library's only C++ allocations are the temporary buffers std::stable_sort
// asks for with the non-throwing operator new. libstdc++'s own version of that
// operator calls the throwing one inside a try block, which links in the whole
// exception runtime: its emergency allocation pool (allocated at load and
// never given back, so lost on every unload), the unwinder, the demangler and
// the threads library it locks with. Going straight to the C runtime's heap
// keeps all of that out of the DLL; the library is built without exceptions.

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
