// What /proc tells about the running processes: one process in the form of
// a Tool Help process entry, and the files mapped into a process, which
// stand for its modules on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::os::posix {

// Fills every field of `entry` but dwSize from /proc/<id>/stat and
// /proc/<id>/exe:
//   th32ProcessID, th32ParentProcessID, cntThreads: as the kernel gives them;
//   pcPriClassBase: 8 (a normal Windows process) minus the nice value, kept
//                   within 1 to 31, so a higher number still means "sooner";
//   szExeFile: the file name of the executable without its directory, as
//              Windows lists it; the kernel's command name when the
//              executable cannot be read (kernel threads, other users);
//   cntUsage, th32DefaultHeapID, th32ModuleID, dwFlags: 0.
// False when the process is gone or its stat cannot be read.
bool read_process_entry(std::uint32_t process_id, ProcessRecord& entry) noexcept;

// The process id that a /proc entry's name stands for; false for every other
// name (".", "self", "sys", a number that does not fit 32 bits, ...).
bool process_id_from_name(const char* name, std::uint32_t& process_id) noexcept;

// The kernel marks a path whose file was removed with " (deleted)"; this
// takes the mark off, leaving the path the file had.
void strip_deleted_mark(char* path) noexcept;

// ---- The modules of one process: the distinct files mapped into it.

struct MappedModuleFile {
    std::string path;            // as /proc/<id>/maps shows it, " (deleted)" taken off
    std::uint32_t mappings = 0;  // how many of the process's mappings show this file
};

// Reads /proc/<id>/maps and lists every file mapped into the process once,
// in the order of its first mapping. Anonymous mappings, pseudo-files such as
// [heap], mappings without an inode, and memory that only looks like a file
// (/memfd:..., /SYSV..., /dev/..., /anon_hugepage) are left out. False
// when the list cannot be read (the process has ended, or access is denied).
bool read_mapped_module_files(std::uint32_t process_id,
                              std::vector<MappedModuleFile>& files) noexcept;

// Parses one line of a maps file; false when it maps no file. Exposed for tests.
bool mapped_file_of_line(const char* line, std::string& path) noexcept;

}  // namespace korvex::os::posix
