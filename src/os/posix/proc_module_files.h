// The modules of one process on Linux: the distinct files mapped into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex::os::posix {

struct MappedModuleFile {
    std::string path;              // as /proc/<id>/maps shows it, " (deleted)" taken off
    std::uint32_t mappings = 0;    // how many of the process's mappings show this file
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
