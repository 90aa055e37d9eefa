// Moves the current ProcessTable and ModuleTable to and from a work file.
// Both move the records in runs of the rows-per-call setting, one stream call
// per run; the file's bytes do not depend on the setting.
#pragma once

#include <cstdint>

namespace korvex::snapshot {

enum : std::int32_t {
    work_file_written = 0,
    work_file_not_created = -2,  // no stream could be opened for writing
    work_file_close_failed = -3, // the stream reported a write error, or closing failed
    work_file_loaded = 0,
    work_file_rejected = -1,     // missing, unreadable, short, or a count out of range
};

// Writes both tables to `path`, creating or truncating the file. The tables,
// registry and cursors are not changed.
std::int32_t write_work_file(const char* path) noexcept;

// Replaces both tables with the records of the file at `path`. On any
// failure both tables are left empty, so no partly read table is ever handed
// out. Counts are checked against the bytes the file still holds before any
// storage is obtained.
std::int32_t read_work_file(const char* path) noexcept;

}  // namespace korvex::snapshot
