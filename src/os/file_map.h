// Read-only mapping of a whole file, the one way the image code reads executables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::os {

// The open file, its mapping and the view. All members zero when nothing is held.
//
// On Windows the view is the file itself, which the share mode keeps others
// from writing while it is held. Elsewhere nothing stops another process
// from rewriting or truncating a held file, so the view is private memory
// instead: each block of it is filled from the file when a read first
// reaches it (fill_blocks), and never changes after that. A walk that reads
// the same bytes twice (a size query and its fill) then sees the same
// bytes, and a file cut short cannot fault the host: what is no longer
// there reads as zero bytes.
struct MappedFile {
    std::intptr_t file = 0;
    std::intptr_t mapping = 0;
    const std::uint8_t* view = nullptr;
    std::size_t size = 0;
    std::uint8_t* filled = nullptr;  // one flag per block of the view; null when it is the file
};

// Blocks are filled whole, so a run of small reads costs one system call.
inline constexpr unsigned fill_block_shift = 12;

// Fills the blocks `first` to `last` of the view that are not filled yet.
void fill_blocks(const MappedFile& file, std::size_t first, std::size_t last) noexcept;

enum class MapResult : std::int32_t {
    mapped = 0,
    open_failed = -1,     // no such file, no access, a directory
    mapping_failed = -2,  // a file of length 0; a pipe or device (never waited on)
    view_failed = -3,
};

// Opens `path` for reading (others may read it too, but not write or delete it
// while it is held) and maps all of it. On failure `out` stays empty and
// everything the earlier steps opened is closed again.
MapResult map_file_readonly(const char* path, MappedFile& out) noexcept;

// Unmaps the view, closes the mapping, closes the file; empties `file`.
// Releasing an empty MappedFile does nothing.
void release_mapped_file(MappedFile& file) noexcept;

}  // namespace korvex::os
