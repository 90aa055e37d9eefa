// The file operations the snapshot side needs beyond the C runtime's
// streams: removal by path, opening a stream safely, and how the runtime's
// reads are best fed.
#pragma once

#include <cstdint>
#include <cstdio>

namespace korvex::os {

// Deletes the file at `path`. The outcome is not reported: callers delete
// work files that may already be gone, and nothing they do depends on it.
void delete_file(const char* path) noexcept;

// Opens a stream on `path` with `mode` ("wb" or "rb") as fopen does, but
// never waits: opening a FIFO (named pipe) would wait, for ever if need be,
// for a process at the other end. The file is opened once without waiting and
// then what was opened is looked at, so a FIFO put in place of a work file at
// any moment is refused rather than waited on. Null when the file cannot be
// opened or is a FIFO; Windows keeps its pipes out of the file system's
// folders, and its runtime's fopen serves as it is.
std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept;

// Whether the file at `path` is a regular file of exactly `length` bytes.
bool file_length_is(const char* path, std::uint64_t length) noexcept;

// Whether a long read (hundreds of KiB) is faster made straight from the file
// into fresh memory than through a stream buffer that is then copied out.
// glibc's read lands in the destination at the speed of one copy. Under the
// Windows runtime (measured under Wine) a read into pages not yet touched is
// the slow part, and filling a 1 MiB buffer that stays in the cache and
// copying out of it is about 1.5 times faster (bench/workfile_bench, runs of
// 1,000 ModuleRecords).
bool long_reads_skip_stream_buffer() noexcept;

}  // namespace korvex::os
