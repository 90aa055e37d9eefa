// The one executable the library holds mapped, from MapFile to UnmapFile.
#pragma once

#include "image/byte_view.h"

namespace korvex::image {

// The bytes of the PE image currently held; empty when none is.
ByteView held_image() noexcept;

}  // namespace korvex::image
