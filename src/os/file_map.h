// Read-only mapping of a whole file, the one way the image code reads executables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::os {

// The open file, its mapping and the view. All members zero when nothing is held.
struct MappedFile {
    std::intptr_t file = 0;
    std::intptr_t mapping = 0;
    const std::uint8_t* view = nullptr;
    std::size_t size = 0;
};

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
