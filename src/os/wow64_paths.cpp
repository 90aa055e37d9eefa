#include "os/wow64_paths.h"

#include <cstring>

namespace korvex::os {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `text` starts with `start`, a to z in either case.
bool starts_with(const char* text, const char* start, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (text[i] == '\0' || lower(text[i]) != lower(start[i])) return false;
    return true;
}

// The subfolders of the system folder that a 32-bit process sees as they
// are: the file system's redirection leaves them out.
constexpr const char* shared_subfolders[] = {"catroot",      "catroot2", "driverstore",
                                             "drivers\\etc", "logfiles", "spool"};

bool in_shared_subfolder(const char* rest) {
    for (const char* folder : shared_subfolders) {
        const std::size_t length = std::strlen(folder);
        if (starts_with(rest, folder, length) && (rest[length] == '\\' || rest[length] == '\0'))
            return true;
    }
    return false;
}

}  // namespace

Wow64Path path_seen_by_32bit_process(const char* path, const SystemFolders& folders, char* out,
                                     std::size_t room) noexcept {
    const std::size_t system = std::strlen(folders.system);
    const std::size_t wow64 = std::strlen(folders.wow64);
    if (wow64 == 0 || system == 0 || !starts_with(path, folders.system, system) ||
        path[system] != '\\' || in_shared_subfolder(path + system + 1))
        return {};
    const std::size_t rest = std::strlen(path + system);
    if (wow64 + rest >= room) return {};
    std::memcpy(out, folders.wow64, wow64);
    std::memcpy(out + wow64, path + system, rest + 1);
    std::size_t separators = 0;
    for (std::size_t i = 0; i < wow64; ++i) separators += folders.wow64[i] == '\\' ? 1 : 0;
    return {true, system, separators};
}

bool respell_short_path(const char* read_short, const Wow64Path& moved,
                        const char* named_folder_short, char* out, std::size_t room) noexcept {
    // Short forms keep every folder of a path, each spelled in 8.3: what
    // follows the 32-bit folder starts at the backslash after its last one.
    const char* rest = read_short;
    for (std::size_t seen = 0; seen <= moved.folder_separators; ++rest) {
        if (*rest == '\0') return false;
        if (*rest == '\\') ++seen;
    }
    --rest;
    const std::size_t folder = std::strlen(named_folder_short);
    const std::size_t length = std::strlen(rest);
    if (folder + length >= room) return false;
    std::memcpy(out, named_folder_short, folder);
    std::memcpy(out + folder, rest, length + 1);
    return true;
}

}  // namespace korvex::os
