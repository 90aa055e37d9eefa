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
};

struct RecordCounts {
    std::uint32_t processes = 0;
    std::uint32_t modules = 0;
};

// The record counts a work file states; false when it is too short to hold
// them. Read from korvex's own copy of the file, the one the library loads.
bool read_record_counts(const std::string& work_file, RecordCounts& counts);

// Reads every record of the current snapshot, `rows` per call, knowing how
// many there are: a paged read answers 100 both for a full page of 100 and
// for the end, and only the count tells them apart. No page is larger than
// the records left, whatever `rows` is. False when the library's answers do
// not add up to the counts.
bool read_snapshot(const Library& library, std::int32_t rows, const RecordCounts& counts, SnapshotPages& pages);

// Keeps only the processes and modules of `process` (0 keeps all).
void keep_process(SnapshotPages& pages, std::uint32_t process);

}  // namespace korvex::host
