// The one executable the library holds mapped, from MapFile to UnmapFile,
// and what kind of MZ file it is.
#pragma once

#include <cstdint>

#include "image/byte_view.h"
#include "image/directory_lookup.h"

namespace korvex::image {

// The bytes of the PE image currently held; empty when none is.
ByteView held_image() noexcept;

// Lets the held file and its module index go; holding nothing afterwards.
void release_held_image() noexcept;

// Releases what was held and maps the file at `path`. Answers what MapFile
// does: KORVEX_IMAGE_PE with the file held, the kind of any other MZ file or
// a failure code with nothing held.
std::int32_t hold_image(const char* path) noexcept;

}  // namespace korvex::image
