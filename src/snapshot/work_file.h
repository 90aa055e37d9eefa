// The work file: a snapshot's two tables on disk, written by TakeSnapShot
// and read back by SelectSnapShot.
//
// Layout: process count, ProcessRecords, module count, ModuleRecords. No
// header, magic or checksum; counts are 32-bit signed little-endian, records
// are stored byte for byte. Both directions move the records in runs of the
// rows-per-call setting, one stream call per run; the file's bytes do not
// depend on the setting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "korvex32.h"

namespace korvex::snapshot {

enum : std::int32_t {
    work_file_written = 0,
    work_file_not_created = -2,   // no stream could be opened for writing
    work_file_close_failed = -3,  // the stream reported a write error, or closing failed
    work_file_loaded = 0,
    work_file_rejected = -1,  // missing, unreadable, short, or a count out of range
};

// Writes both tables to a new file beside `path` and renames it to `path`,
// replacing what stands there (a link included, which is never followed).
// work_file_not_created when the new file cannot be created or renamed; the
// tables, registry and cursors are not changed.
std::int32_t write_work_file(const char* path) noexcept;

// Replaces both tables with the records of the file at `path`. On any
// failure both tables are left empty, so no partly read table is ever handed
// out. Counts are checked against the bytes the file still holds before any
// storage is obtained.
std::int32_t read_work_file(const char* path) noexcept;

inline constexpr std::size_t work_file_count_size = 4;

// Counts are encoded byte by byte so the file is little-endian whatever the
// host's byte order.
inline void encode_count(std::int32_t count,
                         unsigned char (&bytes)[work_file_count_size]) noexcept {
    const auto value = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < work_file_count_size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::int32_t decode_count(const unsigned char (&bytes)[work_file_count_size]) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < work_file_count_size; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

// Length of a work file holding `processes` and `modules` records.
constexpr std::uint64_t work_file_size(std::uint64_t processes, std::uint64_t modules) noexcept {
    return 2 * work_file_count_size + processes * sizeof(ProcessRecord) +
           modules * sizeof(ModuleRecord);
}

// The stream's buffering suits the runs moved through it.
//
// Reads whose rows-per-call reaches this many bytes divided by the shorter
// record (ProcessRecord: 221 rows, runs of about 64 KiB and longer; both
// tables alike) are read straight from the file into the table on platforms
// where that pays (os::long_reads_skip_stream_buffer; glibc, not the Windows
// runtime): the stream is unbuffered, so each run is one system call and the
// bytes are copied once. Through a buffer they would be copied twice, and a
// copy of a few hundred kilobytes costs more than the system call it saves
// (figures in docs/performance.md).
// Writing is the other way round: each write call costs the file system more
// than a copy into the buffer, so writes always go through it.
inline constexpr std::size_t direct_run_bytes = std::size_t{64} << 10;

// Writes, and reads of shorter runs, share one buffer of this size. The
// runtime's default (a few KiB) turns a large table moved one record per call
// into thousands of system calls; with 1 MiB it is a few dozen, and the
// record-sized stream calls become copies out of a buffer that stays in the
// processor's cache.
inline constexpr std::size_t work_file_stream_buffer_size = std::size_t{1} << 20;

// Opens `path` with `mode` ("wb" or "rb") for runs of `rows_per_call`
// records (at least 1) and sets its buffering as above; null when the file
// cannot be opened or is a FIFO. Only one work-file stream is open at a time
// (the writer and the reader each close theirs before returning), so the
// buffer is shared. When the runtime refuses the setting the stream keeps its
// own buffer: only the speed differs.
std::FILE* open_work_file_stream(const char* path, const char* mode,
                                 std::int32_t rows_per_call) noexcept;

}  // namespace korvex::snapshot
