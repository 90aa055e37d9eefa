// The file operations the library needs beyond the C runtime's streams:
// the read-only mapping the image code reads executables through, and for
// the snapshot side removal by path, opening a stream safely, and how the
// runtime's reads are best fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace korvex::os {

// ---- Read-only mapping of a whole file

// The open file, its mapping and the view. All members zero when nothing is held.
//
// On Windows the share mode keeps other Windows programs from writing a held
// file, but under Wine it binds no Linux process, and elsewhere nothing stops
// another process from rewriting or truncating it. So the view is private
// memory, never the file: each block of it is filled from the file when a
// read first reaches it (fill_blocks), and never changes after that. A walk
// that reads the same bytes twice (a size query and its fill) then sees the
// same bytes, and a file cut short cannot fault the host: what is no longer
// there reads as zero bytes.
struct MappedFile {
    std::intptr_t file = 0;
    const std::uint8_t* view = nullptr;
    std::size_t size = 0;
    std::uint8_t* filled = nullptr;  // one flag per block of the view; null when nothing is held
};

// Blocks are filled whole, so a run of small reads costs one system call.
inline constexpr unsigned fill_block_shift = 12;

// What MappedFile::filled says of each block.
inline constexpr std::uint8_t block_unfilled = 0;
inline constexpr std::uint8_t block_filled = 1;
// No memory could be had for the block (Windows commits a block's memory only
// when it is first filled, and the system's commit limit may have been
// reached): its bytes read as not there, as bytes outside the file do, for as
// long as the file is held.
inline constexpr std::uint8_t block_unusable = 2;

// Fills the blocks `first` to `last` of the view that are not filled yet.
void fill_blocks(const MappedFile& file, std::size_t first, std::size_t last) noexcept;

constexpr std::size_t block_count(std::size_t size) {
    return (size + (std::size_t{1} << fill_block_shift) - 1) >> fill_block_shift;
}

// How far one run's memory could be made ready (`usable`: the run's end, or
// the start of the first block that has no memory) and where reading the
// file into it stopped (`read`, at most `usable`).
struct RunFill {
    std::size_t usable = 0;
    std::size_t read = 0;
};

// What each platform's fill_blocks shares: `read(view, from, to)` is called
// once for each run of blocks not yet filled (the bytes the run holds, the
// last block ending with the file) and answers a RunFill. What a file that
// has shrunk, or a failing disk, does not deliver is zero.
template <typename Read>
void fill_runs(const MappedFile& held, std::size_t first, std::size_t last, Read read) noexcept {
    const std::size_t blocks = block_count(held.size);
    if (held.filled == nullptr || last >= blocks) return;
    auto* view = const_cast<std::uint8_t*>(held.view);
    for (std::size_t block = first; block <= last;) {
        if (held.filled[block] != block_unfilled) {
            ++block;
            continue;
        }
        std::size_t end = block;
        while (end <= last && held.filled[end] == block_unfilled) ++end;
        const std::size_t to = end == blocks ? held.size : end << fill_block_shift;
        const RunFill got = read(view, block << fill_block_shift, to);
        for (std::size_t zero = got.read; zero < got.usable; ++zero) view[zero] = 0;
        for (std::size_t flag = block; flag < end; ++flag) {
            const std::size_t flag_end =
                flag + 1 == blocks ? held.size : (flag + 1) << fill_block_shift;
            held.filled[flag] = flag_end <= got.usable ? block_filled : block_unusable;
        }
        block = end;
    }
}

enum class MapResult : std::int32_t {
    mapped = 0,
    open_failed = -1,     // no such file, no access, a directory
    mapping_failed = -2,  // a file of length 0; a pipe or device (never waited on)
    view_failed = -3,
};

// Opens `path` for reading (others may read it too, but not write or delete it
// while it is held) and gives a view of all of it, private memory filled
// from the file a block at a time as reads reach it. On failure `out` stays empty and
// everything the earlier steps opened is closed again.
MapResult map_file_readonly(const char* path, MappedFile& out) noexcept;

// Unmaps the view, closes the mapping, closes the file; empties `file`.
// Releasing an empty MappedFile does nothing.
void release_mapped_file(MappedFile& file) noexcept;

// For the library's unload with a file still held: gives back the memory of
// the file's copy, which nothing can read once the library is gone, and
// leaves the file open, so that writers stay kept out until the process ends
// as they would be by a view of the file itself. Afterwards `file` is empty.
void release_copy_keep_file(MappedFile& file) noexcept;

// ---- Work files

// Deletes the file at `path`, of any length a work-file path can have (up
// to 515 characters). The outcome is not reported: callers delete work files
// that may already be gone, and nothing they do depends on it.
void delete_file(const char* path) noexcept;

// Opens a stream on `path` with `mode` ("wb" or "rb") as fopen does, but
// never waits: opening a FIFO (named pipe) would wait, for ever if need be,
// for a process at the other end. The file is opened once without waiting and
// then what was opened is looked at, so a FIFO put in place of a work file at
// any moment is refused rather than waited on. Null when the file cannot be
// opened or is a FIFO; Windows keeps its pipes out of the file system's
// folders, and its runtime's fopen serves as it is.
std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept;

// Room for the name of a work file's temporary beside it: the longest
// work-file path, a dot, 16 random hexadecimal digits and ".tmp".
inline constexpr std::size_t temporary_name_room = 516 + 1 + 16 + 4;

// Creates a new file in the folder of `path`, named `path` followed by a dot,
// 16 random hexadecimal digits and ".tmp", and opens a stream on it for
// writing as fopen's "wb" does. Nothing may stand at that name, a link
// included, so nothing is written through a link; a name that is taken is
// passed over for another. `temporary` receives the name. Null when no file
// can be created (the folder is missing or may not be written).
std::FILE* create_stream_beside(const char* path, char (&temporary)[temporary_name_room]) noexcept;

// Renames `temporary` to `path` in one step, replacing the file or link that
// stands there; a link is replaced, never followed. False, replacing nothing,
// when anything else stands at `path` (a folder, a FIFO, a device, a socket)
// or the rename fails; `temporary` is then still there.
bool move_into_place(const char* temporary, const char* path) noexcept;

// Whether the file under the open `stream` is a regular file of exactly
// `length` bytes, as the file system tells (not the stream's own position).
// The caller flushes the stream first. Asked of the open file rather than by
// path, so that it holds for every path the stream could be opened with.
bool stream_length_is(std::FILE* stream, std::uint64_t length) noexcept;

// Whether a long read (hundreds of KiB) is faster made straight from the file
// into fresh memory than through a stream buffer that is then copied out.
// glibc's read lands in the destination at the speed of one copy. Under the
// Windows runtime (measured under Wine) a read into pages not yet touched is
// the slow part, and filling a 1 MiB buffer that stays in the cache and
// copying out of it is faster (figures in docs/performance.md).
bool long_reads_skip_stream_buffer() noexcept;

}  // namespace korvex::os
