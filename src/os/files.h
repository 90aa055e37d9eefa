// The file operations the snapshot side needs beyond the C runtime's
// streams: removal by path, and how the runtime's reads are best fed.
#pragma once

namespace korvex::os {

// Deletes the file at `path`. The outcome is not reported: callers delete
// work files that may already be gone, and nothing they do depends on it.
void delete_file(const char* path) noexcept;

// Whether `path` names a FIFO (named pipe). Opening one waits, for ever if
// need be, for a process at the other end, so a work file found to be one is
// refused instead of opened. False when the path names anything else or
// nothing; Windows keeps its pipes out of the file system's folders.
bool is_fifo(const char* path) noexcept;

// Whether a long read (hundreds of KiB) is faster made straight from the file
// into fresh memory than through a stream buffer that is then copied out.
// glibc's read lands in the destination at the speed of one copy. Under the
// Windows runtime (measured under Wine) a read into pages not yet touched is
// the slow part, and filling a 1 MiB buffer that stays in the cache and
// copying out of it is about 1.5 times faster (bench/workfile_bench, runs of
// 1,000 ModuleRecords).
bool long_reads_skip_stream_buffer() noexcept;

}  // namespace korvex::os
