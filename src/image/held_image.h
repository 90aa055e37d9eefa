// The one executable the library holds mapped, from MapFile to UnmapFile,
// with what the name lists have learnt of it; and what kind of MZ file a
// file is.
#pragma once

#include <cstdint>

#include "image/byte_view.h"
#include "image/name_lists.h"
#include "os/files.h"

namespace korvex::image {

// Nothing is held while `file` is empty, and `lists` then knows of no image.
struct HeldImage {
    os::MappedFile file;
    ListState lists;

    // The bytes of the file; empty when none is held.
    [[nodiscard]] ByteView view() const noexcept { return ByteView{file}; }
};

// The image the exports hold and read.
HeldImage& held_image() noexcept;

// Lets the held file go and forgets what was learnt of it.
void release_image(HeldImage& held) noexcept;

// For the library's unload: gives back everything the image side holds,
// what the lists learnt and the copy of a file still held, and leaves only
// that file open (os::release_copy_keep_file).
void release_image_at_unload() noexcept;

// Releases what was held and maps the file at `path`. Answers what MapFile
// does: KORVEX_IMAGE_PE with the file held, the kind of any other MZ file or
// a failure code with nothing held.
std::int32_t hold_image(HeldImage& held, const char* path) noexcept;

}  // namespace korvex::image
