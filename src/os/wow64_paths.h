// Where a 32-bit process on 64-bit Windows finds the files it names. The file
// system shows such a process the 32-bit system folder (SysWOW64) under the
// name of the system folder (System32), so a path it reports for one of its
// modules names another file for a 64-bit process. The 64-bit capture and
// the 64-bit korvex look such paths up here, to read the file the process
// loaded.
#pragma once

#include <cstddef>

namespace korvex::os {

// The two folders as a 64-bit process sees them; `wow64` is empty where
// there is no 32-bit system folder (a 32-bit Windows).
struct SystemFolders {
    const char* system = "";  // GetSystemDirectory: C:\Windows\System32
    const char* wow64 = "";   // GetSystemWow64Directory: C:\Windows\SysWOW64
};

// How a path a 32-bit process named is read by a 64-bit one.
struct Wow64Path {
    bool moved = false;                 // false: the path is read as it is
    std::size_t named_folder = 0;       // the length of the system folder at its start
    std::size_t folder_separators = 0;  // backslashes inside `wow64` (not after it)
};

// Writes into `out` (`room` bytes) the path under which a 64-bit process
// reads the file that a 32-bit process names `path`: a path inside the
// system folder (letter case aside, a to z only) is read inside the 32-bit
// system folder, except in the subfolders the file system shows every
// process alike (catroot, catroot2, driverstore, drivers\etc, logfiles and
// spool). Answers moved = false, leaving `out` alone, for any other path,
// when `wow64` is empty, or when the moved path would not fit.
Wow64Path path_seen_by_32bit_process(const char* path, const SystemFolders& folders, char* out,
                                     std::size_t room) noexcept;

// The short form of the path a 32-bit process named, from the short form of
// the path read (`read_short`, which starts with the 32-bit system folder)
// and the short form of the system folder as the process named it
// (`named_folder_short`): the named folder followed by what follows the
// 32-bit folder. False when `read_short` does not hold that many folders or
// the result does not fit in `room` bytes.
bool respell_short_path(const char* read_short, const Wow64Path& moved,
                        const char* named_folder_short, char* out, std::size_t room) noexcept;

// The platform's folders; both empty natively and in a 32-bit process.
SystemFolders system_folders() noexcept;

}  // namespace korvex::os
