// The system folder and the 32-bit system folder, as a 64-bit process sees
// them, for os/wow64_paths.h. Asked once: they do not change while a process
// runs.
#include <windows.h>

#include "os/wow64_paths.h"

namespace korvex::os {

namespace {

struct Folders {
    bool asked;
    char system[MAX_PATH];
    char wow64[MAX_PATH];
};
constinit Folders g_folders{};

}  // namespace

SystemFolders system_folders() noexcept {
    // A 32-bit process is shown the 32-bit folder under the system folder's
    // name already: nothing it names is read elsewhere.
    if (sizeof(void*) == 4) return {};
    if (!g_folders.asked) {
        const UINT system = GetSystemDirectoryA(g_folders.system, MAX_PATH);
        const UINT wow64 = GetSystemWow64DirectoryA(g_folders.wow64, MAX_PATH);
        if (system == 0 || system >= MAX_PATH || wow64 == 0 || wow64 >= MAX_PATH)
            g_folders.system[0] = g_folders.wow64[0] = '\0';
        g_folders.asked = true;
    }
    return {g_folders.system, g_folders.wow64};
}

}  // namespace korvex::os
