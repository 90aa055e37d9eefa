#include "image/directory_lookup.h"

namespace korvex::image {

namespace {

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

namespace {

constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;

// Field offsets inside a 40-byte section header.
constexpr std::uint64_t virtual_address_at = 12;
constexpr std::uint64_t size_of_raw_data_at = 16;
constexpr std::uint64_t pointer_to_raw_data_at = 20;

std::optional<SectionHeader> read_section(ByteView file, std::uint64_t offset) noexcept {
    if (!file.contains(offset, section_header_size)) return std::nullopt;
    SectionHeader section;
    section.offset = offset;
    section.virtual_address = *file.u32(offset + virtual_address_at);
    section.size_of_raw_data = *file.u32(offset + size_of_raw_data_at);
    section.pointer_to_raw_data = *file.u32(offset + pointer_to_raw_data_at);
    return section;
}

bool holds(const SectionHeader& section, std::uint32_t rva) noexcept {
    // The end is taken in 32 bits: a section whose end wraps holds no RVA.
    const std::uint64_t end = std::uint64_t{section.virtual_address} + section.size_of_raw_data;
    return end < four_gib && section.virtual_address <= rva && rva < end;
}

}  // namespace

std::optional<std::uint64_t> SectionHeader::file_offset(ByteView file, std::uint32_t rva,
                                                        std::uint32_t extra) const noexcept {
    const std::int64_t position = std::int64_t{pointer_to_raw_data} - virtual_address + rva + extra;
    if (position < 0 || static_cast<std::uint64_t>(position) >= four_gib) return std::nullopt;
    const auto converted = static_cast<std::uint64_t>(position);
    if (!file.contains(converted, 1)) return std::nullopt;
    return converted;
}

std::optional<DirectoryLocation> find_directory(ByteView file, std::uint32_t index) noexcept {
    const auto layout = read_pe_layout(file);
    if (!layout || index >= layout->directory_count) return std::nullopt;
    const auto rva = file.u32(layout->directories + std::uint64_t{index} * data_directory_size);
    if (!rva) return std::nullopt;

    // At most 65,535 headers, and fewer when the file ends first.
    for (std::uint32_t i = 0; i < layout->section_count; ++i) {
        const auto section = read_section(file, layout->section_table + i * section_header_size);
        if (!section) return std::nullopt;
        if (!holds(*section, *rva)) continue;
        const auto data = section->file_offset(file, *rva);
        if (!data) return std::nullopt;
        return DirectoryLocation{*layout, *data, *section};
    }
    return std::nullopt;
}

}  // namespace korvex::image
