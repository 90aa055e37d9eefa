// One running process as /proc describes it, in the form of a Tool Help
// process entry.
#pragma once

#include <cstdint>

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

}  // namespace korvex::os::posix
