// Tells the kind of an MZ file from the signature at e_lfanew.
#pragma once

#include <cstdint>

#include "image/byte_view.h"

namespace korvex::image {

// The file must begin with "MZ". Answers KORVEX_IMAGE_NE, _LE, _PE or _MZ; a
// signature that does not lie wholly inside the file is no signature (MZ).
std::int32_t classify_image(ByteView file) noexcept;

}  // namespace korvex::image
