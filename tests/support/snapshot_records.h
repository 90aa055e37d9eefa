// Snapshot records built for tests, each field filled so that records
// differ in every part and copies can be checked byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "korvex32.h"

namespace korvex::test {

using Processes = std::vector<ProcessRecord>;
using Modules = std::vector<ModuleRecord>;

// A ProcessRecord with dwSize 296, the id and file name given, and every
// other field filled from the id so that records differ in every part.
ProcessRecord process_record(std::uint32_t id, const char* exe_file);

// A ModuleRecord of process `id`. Bytes after each text's terminator carry a
// pattern, so byte-for-byte copies can be told from field-by-field ones.
ModuleRecord module_record(std::uint32_t id, const char* short_name,
                           const char* path = "C:\\X.DLL");

// `count` processes and `count` modules of processes 1, 2, 3, ...
Processes some_processes(int count);
Modules some_modules(int count, std::uint32_t first_id = 1);

}  // namespace korvex::test
