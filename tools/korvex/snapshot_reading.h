// Reading the current snapshot out of the library page by page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library.h"

namespace korvex::host {

struct SnapshotPages {
    std::vector<ProcessRecord> processes;
    std::vector<ModuleRecord> modules;
    int process_pages = 0;
    int module_pages = 0;
};

// Reads every ProcessRecord and every ModuleRecord of the current snapshot
// with `rows` records per call, the modules of `process_filter` only (0 for
// all). False when no snapshot is current.
bool read_snapshot(const Library& library, std::int32_t rows, std::uint32_t process_filter,
                   SnapshotPages& pages);

}  // namespace korvex::host
