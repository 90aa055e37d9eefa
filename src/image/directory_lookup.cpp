#include "image/directory_lookup.h"

#include <cstring>

#include "korvex32.h"

namespace korvex::image {

namespace {

// Offsets from H (the signature). The file header follows the 4-byte
// signature; the optional header follows the 20-byte file header.
constexpr std::uint64_t machine_at = 4;
constexpr std::uint64_t number_of_sections_at = 4 + 2;
constexpr std::uint64_t size_of_optional_header_at = 4 + 16;
constexpr std::uint64_t optional_header_at = 4 + 20;
constexpr std::uint64_t time_date_stamp_at = 4 + 4;
constexpr std::uint64_t characteristics_at = 4 + 18;
constexpr std::uint64_t lfanew_size = 4;

// Offsets from the optional header's first byte. PE32+ drops BaseOfData and
// widens ImageBase and the four stack and heap sizes to 64 bits, which moves
// NumberOfRvaAndSizes 16 bytes on; the directories follow it, 8 bytes each
// (the RVA, then the size).
constexpr std::uint64_t magic_at = 0;
constexpr std::uint16_t pe32_plus_magic = 0x20B;
constexpr std::uint64_t pe32_image_base_at = 28;
constexpr std::uint64_t pe32_plus_image_base_at = 24;
constexpr std::uint64_t size_of_headers_at = 60;
// The same in PE32 and PE32+, all before NumberOfRvaAndSizes.
constexpr std::uint64_t entry_point_at = 16;
constexpr std::uint64_t section_alignment_at = 32;
constexpr std::uint64_t file_alignment_at = 36;
constexpr std::uint64_t size_of_image_at = 56;
constexpr std::uint64_t subsystem_at = 68;
constexpr std::uint64_t dll_characteristics_at = 70;
constexpr std::uint64_t pe32_directory_count_at = 92;
constexpr std::uint64_t pe32_plus_directory_count_at = 108;
constexpr std::uint64_t directory_count_size = 4;
constexpr std::uint64_t data_directory_size = 8;
constexpr std::uint64_t directory_size_at = 4;

// A PE32 image's section table is looked for after an optional header of
// the standard 224 bytes, whatever SizeOfOptionalHeader says. Images that
// relied on the field being ignored keep reading as they always did.
constexpr std::uint64_t pe32_optional_header_size = 224;

// Offsets inside a 40-byte section header.
constexpr std::uint64_t section_name_at = 0;
constexpr std::uint64_t virtual_size_at = 8;
constexpr std::uint64_t virtual_address_at = 12;
constexpr std::uint64_t size_of_raw_data_at = 16;
constexpr std::uint64_t pointer_to_raw_data_at = 20;

constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;

std::optional<FileHeader> file_header_at(ByteView file, std::uint64_t at) noexcept {
    if (!file.contains(at, optional_header_at)) return std::nullopt;
    FileHeader header;
    header.at = at;
    header.machine = *file.u16(at + machine_at);
    header.section_count = *file.u16(at + number_of_sections_at);
    header.optional_header_size = *file.u16(at + size_of_optional_header_at);
    return header;
}

std::uint64_t directory_entry_at(const PeLayout& layout, std::uint32_t index) noexcept {
    return layout.directories + std::uint64_t{index} * data_directory_size;
}

bool holds(const SectionHeader& section, std::uint32_t rva) noexcept {
    // The end is taken in 32 bits: a section whose end wraps holds no RVA.
    const std::uint64_t end = std::uint64_t{section.virtual_address} + section.size_of_raw_data;
    return end < four_gib && section.virtual_address <= rva && rva < end;
}

}  // namespace

std::int32_t ClassifyImage(ByteView file) noexcept {
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

std::optional<FileHeader> read_file_header(ByteView file) noexcept {
    const auto lfanew = file.u32(lfanew_offset);
    if (!lfanew) return std::nullopt;
    return file_header_at(file, *lfanew);
}

std::uint64_t headers_end(ByteView file) noexcept {
    const auto lfanew = file.u32(lfanew_offset);
    if (!lfanew) return lfanew_offset + lfanew_size;
    const auto header = file_header_at(file, *lfanew);
    if (!header) return *lfanew + optional_header_at;
    // At most 4 GiB + 24 + 65,535 + 65,535 * 40: no wrapping in 64 bits.
    return header->at + optional_header_at + header->optional_header_size +
           section_header_size * header->section_count;
}

ImageFacts read_image_facts(ByteView file, const PeLayout& layout) noexcept {
    const std::uint64_t header = layout.file_header.at;
    const std::uint64_t optional_header = header + optional_header_at;
    ImageFacts facts;
    facts.time_stamp = file.u32(header + time_date_stamp_at).value_or(0);
    facts.characteristics = file.u16(header + characteristics_at).value_or(0);
    facts.entry_point = file.u32(optional_header + entry_point_at).value_or(0);
    facts.section_alignment = file.u32(optional_header + section_alignment_at).value_or(0);
    facts.file_alignment = file.u32(optional_header + file_alignment_at).value_or(0);
    facts.size_of_image = file.u32(optional_header + size_of_image_at).value_or(0);
    facts.subsystem = file.u16(optional_header + subsystem_at).value_or(0);
    facts.dll_characteristics = file.u16(optional_header + dll_characteristics_at).value_or(0);
    return facts;
}

std::optional<PeLayout> read_pe_layout(ByteView file) noexcept {
    const auto file_header = read_file_header(file);
    if (!file_header) return std::nullopt;
    PeLayout layout;
    layout.file_header = *file_header;
    const std::uint64_t optional_header = file_header->at + optional_header_at;

    // A Magic cut off by the end of the file reads as PE32, whose
    // NumberOfRvaAndSizes then lies outside the file as well.
    const auto magic = file.u16(optional_header + magic_at);
    layout.format = magic == pe32_plus_magic ? PeFormat::pe32_plus : PeFormat::pe32;
    const bool wide = layout.format == PeFormat::pe32_plus;

    const std::uint64_t directory_count_at =
        optional_header + (wide ? pe32_plus_directory_count_at : pe32_directory_count_at);
    const auto directory_count = file.u32(directory_count_at);
    if (!directory_count) return std::nullopt;
    layout.directory_count = *directory_count;
    layout.directories = directory_count_at + directory_count_size;
    layout.section_table =
        optional_header + (wide ? file_header->optional_header_size : pe32_optional_header_size);

    // Both stand before NumberOfRvaAndSizes, which is in the file.
    layout.image_base = wide ? *file.u64(optional_header + pe32_plus_image_base_at)
                             : *file.u32(optional_header + pe32_image_base_at);
    layout.size_of_headers = *file.u32(optional_header + size_of_headers_at);
    return layout;
}

PeLayout loader_layout(const PeLayout& layout) noexcept {
    PeLayout placed = layout;
    placed.section_table =
        layout.file_header.at + optional_header_at + layout.file_header.optional_header_size;
    return placed;
}

std::optional<SectionHeader> read_section_header(ByteView file, const PeLayout& layout,
                                                 std::uint32_t index) noexcept {
    const std::uint64_t offset = layout.section_table + std::uint64_t{index} * section_header_size;
    const std::uint8_t* header = file.at(offset, section_header_size);
    if (header == nullptr) return std::nullopt;
    SectionHeader section;
    section.offset = offset;
    std::memcpy(section.name, header + section_name_at, sizeof section.name);
    section.virtual_size = ByteView::le32(header + virtual_size_at);
    section.virtual_address = ByteView::le32(header + virtual_address_at);
    section.size_of_raw_data = ByteView::le32(header + size_of_raw_data_at);
    section.pointer_to_raw_data = ByteView::le32(header + pointer_to_raw_data_at);
    return section;
}

std::optional<std::uint32_t> read_directory_rva(ByteView file, const PeLayout& layout,
                                                std::uint32_t index) noexcept {
    if (index >= layout.directory_count) return std::nullopt;
    return file.u32(directory_entry_at(layout, index));
}

std::optional<DirectoryEntry> read_directory(ByteView file, const PeLayout& layout,
                                             std::uint32_t index) noexcept {
    const auto rva = read_directory_rva(file, layout, index);
    if (!rva) return std::nullopt;
    const auto size = file.u32(directory_entry_at(layout, index) + directory_size_at);
    if (!size) return std::nullopt;
    return DirectoryEntry{*rva, *size};
}

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
    return layout ? find_directory(file, *layout, index) : std::nullopt;
}

std::optional<DirectoryLocation> find_directory(ByteView file, const PeLayout& layout,
                                                std::uint32_t index) noexcept {
    const auto rva = read_directory_rva(file, layout, index);
    if (!rva) return std::nullopt;

    // At most 65,535 headers, and fewer when the file ends first. Only the
    // two fields that place a section are read from each header on the way;
    // the whole header of the one that holds the RVA afterwards.
    for (std::uint32_t i = 0; i < layout.file_header.section_count; ++i) {
        const std::uint64_t offset = layout.section_table + std::uint64_t{i} * section_header_size;
        const std::uint8_t* header = file.at(offset, section_header_size);
        if (header == nullptr) return std::nullopt;
        SectionHeader placed;
        placed.virtual_address = ByteView::le32(header + virtual_address_at);
        placed.size_of_raw_data = ByteView::le32(header + size_of_raw_data_at);
        if (!holds(placed, *rva)) continue;
        const auto section = read_section_header(file, layout, i);
        const auto data = section->file_offset(file, *rva);
        if (!data) return std::nullopt;
        return DirectoryLocation{layout, *data, *section};
    }
    return std::nullopt;
}

}  // namespace korvex::image
