// The stream a work file is written or read through, buffered to suit the
// runs the writer and reader move (one stream call per run of the
// rows-per-call setting).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace korvex::snapshot {

// Reads whose rows-per-call reaches this many bytes divided by the shorter
// record (ProcessRecord: 221 rows, runs of about 64 KiB and longer; both
// tables alike) are read straight from the file into the
// table on platforms where that pays (os::long_reads_skip_stream_buffer;
// glibc, not the Windows runtime): the stream is unbuffered, so each run is one system call and the
// bytes are copied once. Through a buffer they would be copied twice, and a
// copy of a few hundred kilobytes costs more than the system call it saves
// (bench/workfile_bench: 1,000-record runs read 1.3x faster unbuffered).
// Writing is the other way round: each write call costs the file system
// more than a copy into the buffer, so writes always go through it.
inline constexpr std::size_t direct_run_bytes = std::size_t{64} << 10;

// Writes, and reads of shorter runs, share one buffer of this size. The runtime's default (a few
// KiB) turns a 33 MB table moved one record per call into some 8,000
// system calls; with 1 MiB it is about 32, and the record-sized stream calls
// become copies out of a buffer that stays in the processor's cache.
inline constexpr std::size_t work_file_stream_buffer_size = std::size_t{1} << 20;

// Opens `path` with `mode` ("wb" or "rb") for runs of `rows_per_call`
// records (at least 1) and sets its buffering as above; null when the file cannot be
// opened or is a FIFO. Only one work-file stream is open at a time (the writer and the
// reader each close theirs before returning), so the buffer is shared. When
// the runtime refuses the setting the stream keeps its own buffer: only the
// speed differs.
std::FILE* open_work_file_stream(const char* path, const char* mode,
                                 std::int32_t rows_per_call) noexcept;

}  // namespace korvex::snapshot
