#include "image/classify.h"

#include "korvex32.h"

namespace korvex::image {

namespace {
constexpr std::uint64_t lfanew_offset = 0x3C;
constexpr std::uint32_t pe_signature = 0x00004550;  // "PE\0\0"
}  // namespace

std::int32_t classify_image(ByteView file) noexcept {
    const auto lfanew = file.u32(lfanew_offset);
    if (!lfanew) return KORVEX_IMAGE_MZ;
    // NE and LE are told by two bytes, PE by four; all three need the whole
    // 32-bit word inside the file.
    const auto signature = file.u32(*lfanew);
    if (!signature) return KORVEX_IMAGE_MZ;
    const std::uint16_t letters = *signature & 0xFFFF;
    if (letters == KORVEX_IMAGE_NE) return KORVEX_IMAGE_NE;
    if (letters == KORVEX_IMAGE_LE) return KORVEX_IMAGE_LE;
    if (*signature == pe_signature) return KORVEX_IMAGE_PE;
    return KORVEX_IMAGE_MZ;
}

}  // namespace korvex::image
