// Where the parts of a PE image that the directory lookup needs stand in the
// file, read once from the headers. PE32 and PE32+ differ only in these
// positions and in the width of an import lookup entry.
#pragma once

#include <cstdint>
#include <optional>

#include "image/byte_view.h"

namespace korvex::image {

enum class PeFormat : std::uint8_t { pe32, pe32_plus };

struct PeLayout {
    PeFormat format = PeFormat::pe32;
    std::uint64_t header = 0;           // H: file offset of "PE\0\0" (e_lfanew)
    std::uint16_t section_count = 0;    // NumberOfSections, as the file says
    std::uint64_t section_table = 0;    // file offset of the first section header
    std::uint32_t directory_count = 0;  // NumberOfRvaAndSizes
    std::uint64_t directories = 0;      // file offset of DataDirectory[0]
};

inline constexpr std::uint16_t pe32_plus_magic = 0x20B;
inline constexpr std::uint64_t section_header_size = 40;
inline constexpr std::uint64_t data_directory_size = 8;

// Reads e_lfanew, NumberOfSections, the optional header's Magic and
// NumberOfRvaAndSizes. Nothing when one of the fields it needs lies outside
// the file. The signature itself is not checked: MapFile has done that.
std::optional<PeLayout> read_pe_layout(ByteView file) noexcept;

}  // namespace korvex::image
