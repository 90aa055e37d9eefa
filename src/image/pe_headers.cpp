#include "image/pe_headers.h"

namespace korvex::image {

namespace {

constexpr std::uint64_t lfanew_offset = 0x3C;

// Offsets from H (the signature). The file header follows the 4-byte
// signature; the optional header follows the 20-byte file header.
constexpr std::uint64_t number_of_sections_at = 4 + 2;
constexpr std::uint64_t size_of_optional_header_at = 4 + 16;
constexpr std::uint64_t optional_header_at = 4 + 20;
constexpr std::uint64_t magic_at = optional_header_at;

// PE32: NumberOfRvaAndSizes at optional header + 92, the directories right
// after it, and the section table always at H + 248 (a 224-byte optional
// header), whatever SizeOfOptionalHeader says. Images that relied on the
// field being ignored keep reading as they always did.
constexpr std::uint64_t pe32_directory_count_at = 0x74;
constexpr std::uint64_t pe32_directories_at = 0x78;
constexpr std::uint64_t pe32_section_table_at = 248;

// PE32+: ImageBase and the four stack and heap sizes are 64-bit, which moves
// NumberOfRvaAndSizes 16 bytes on. The section table follows the optional
// header at the length the header states, as the loader places it.
constexpr std::uint64_t pe32_plus_directory_count_at = 0x84;
constexpr std::uint64_t pe32_plus_directories_at = 0x88;

}  // namespace

std::optional<PeLayout> read_pe_layout(ByteView file) noexcept {
    const auto lfanew = file.u32(lfanew_offset);
    if (!lfanew) return std::nullopt;
    PeLayout layout;
    layout.header = *lfanew;

    const auto sections = file.u16(layout.header + number_of_sections_at);
    if (!sections) return std::nullopt;
    layout.section_count = *sections;

    // A Magic cut off by the end of the file reads as PE32, whose
    // NumberOfRvaAndSizes then lies outside the file as well.
    const auto magic = file.u16(layout.header + magic_at);
    layout.format = magic == pe32_plus_magic ? PeFormat::pe32_plus : PeFormat::pe32;

    std::uint64_t directory_count_at = pe32_directory_count_at;
    if (layout.format == PeFormat::pe32_plus) {
        const auto optional_size = file.u16(layout.header + size_of_optional_header_at);
        if (!optional_size) return std::nullopt;
        directory_count_at = pe32_plus_directory_count_at;
        layout.directories = layout.header + pe32_plus_directories_at;
        layout.section_table = layout.header + optional_header_at + *optional_size;
    } else {
        layout.directories = layout.header + pe32_directories_at;
        layout.section_table = layout.header + pe32_section_table_at;
    }

    const auto directory_count = file.u32(layout.header + directory_count_at);
    if (!directory_count) return std::nullopt;
    layout.directory_count = *directory_count;
    return layout;
}

}  // namespace korvex::image
