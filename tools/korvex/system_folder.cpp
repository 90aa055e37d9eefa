#include <filesystem>
#include <system_error>

#include "dependency_graph.h"
#include "image/section_map.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvex::host {

#ifdef _WIN32
std::string default_system_folder(std::uint16_t machine) {
    char folder[MAX_PATH] = {};
    // korvex.exe is a 32-bit program: under WoW64 (and Wine) the file system
    // shows it SysWOW64 in place of System32, which is right for a 32-bit
    // program. A 64-bit program's DLLs are reached through Sysnative.
    BOOL wow64 = FALSE;
    const bool wide_machine = machine != image::machine_i386;
    if (wide_machine && IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return {};
        return std::string(folder, length) + "\\Sysnative";
    }
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length);
}
#else
std::string default_system_folder(std::uint16_t machine) {
    // Where Debian, Fedora, Arch and WineHQ's own packages put Wine's PE DLLs.
    static const char* const i386_folders[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows",
                                               "/usr/lib/wine/i386-windows",
                                               "/usr/lib32/wine/i386-windows",
                                               "/opt/wine-stable/lib/wine/i386-windows",
                                               "/opt/wine-devel/lib/wine/i386-windows",
                                               "/opt/wine-staging/lib/wine/i386-windows"};
    static const char* const x86_64_folders[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                                                 "/usr/lib64/wine/x86_64-windows",
                                                 "/usr/lib/wine/x86_64-windows",
                                                 "/opt/wine-stable/lib64/wine/x86_64-windows",
                                                 "/opt/wine-devel/lib64/wine/x86_64-windows",
                                                 "/opt/wine-staging/lib64/wine/x86_64-windows"};
    std::error_code error;
    const auto first_existing = [&](const auto& folders) -> std::string {
        for (const char* folder : folders)
            if (std::filesystem::is_directory(folder, error)) return folder;
        return {};
    };
    if (machine == image::machine_i386) return first_existing(i386_folders);
    if (machine == image::machine_x86_64) return first_existing(x86_64_folders);
    return {};
}
#endif

}  // namespace korvex::host
