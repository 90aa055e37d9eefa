#include "image/section_map.h"

#include <algorithm>
#include <cstring>

namespace korvex::image {

namespace {

// Offsets from the optional header's first byte (H + 24).
constexpr std::uint64_t optional_header_at = 24;
constexpr std::uint64_t pe32_image_base_at = 28;
constexpr std::uint64_t pe32_plus_image_base_at = 24;
constexpr std::uint64_t size_of_headers_at = 60;

// Offsets inside a 40-byte section header.
constexpr std::uint64_t virtual_address_at = 12;
constexpr std::uint64_t size_of_raw_data_at = 16;
constexpr std::uint64_t pointer_to_raw_data_at = 20;

// Where an RVA's bytes stand in the file and how many follow it in the same
// section (or in the headers).
struct Region {
    std::uint64_t offset;
    std::uint64_t room;
};

}  // namespace

std::optional<SectionMap> SectionMap::read(ByteView file) noexcept {
    const auto layout = read_pe_layout(file);
    if (!layout) return std::nullopt;
    SectionMap map;
    map.file_ = file;
    map.layout_ = *layout;
    const std::uint64_t optional_header = layout->header + optional_header_at;
    if (layout->format == PeFormat::pe32_plus) {
        map.image_base_ = file.u64(optional_header + pe32_plus_image_base_at).value_or(0);
    } else {
        map.image_base_ = file.u32(optional_header + pe32_image_base_at).value_or(0);
    }
    map.size_of_headers_ = file.u32(optional_header + size_of_headers_at).value_or(0);

    const std::uint32_t count = std::min<std::uint32_t>(layout->section_count, max_sections);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t header = layout->section_table + std::uint64_t{i} * section_header_size;
        if (!file.contains(header, section_header_size)) break;
        Section& section = map.sections_[map.section_count_++];
        std::memcpy(section.name, file.at(header, sizeof section.name), sizeof section.name);
        section.virtual_address = *file.u32(header + virtual_address_at);
        section.raw_offset = *file.u32(header + pointer_to_raw_data_at);
        const std::uint64_t raw_size = *file.u32(header + size_of_raw_data_at);
        const std::uint64_t in_file =
            section.raw_offset < file.size() ? file.size() - section.raw_offset : 0;
        section.raw_size = static_cast<std::uint32_t>(std::min(raw_size, in_file));
    }
    return map;
}

namespace {

template <typename Sections>
std::optional<Region> region_of(const Sections& sections, std::uint32_t count,
                                std::uint32_t size_of_headers, ByteView file, std::uint32_t rva) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto& section = sections[i];
        if (rva < section.virtual_address) continue;
        const std::uint32_t into = rva - section.virtual_address;
        if (into >= section.raw_size) continue;
        return Region{section.raw_offset + into, section.raw_size - std::uint64_t{into}};
    }
    // The headers are mapped at RVA 0 as they lie in the file.
    const std::uint64_t headers_end = std::min<std::uint64_t>(size_of_headers, file.size());
    if (rva < headers_end) return Region{rva, headers_end - rva};
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> SectionMap::offset_of(std::uint32_t rva,
                                                   std::uint32_t length) const noexcept {
    const auto region = region_of(sections_, section_count_, size_of_headers_, file_, rva);
    if (!region || length > region->room) return std::nullopt;
    return region->offset;
}

std::optional<std::string_view> SectionMap::string_at(std::uint32_t rva) const noexcept {
    const auto region = region_of(sections_, section_count_, size_of_headers_, file_, rva);
    if (!region) return std::nullopt;
    const std::uint64_t scanned = std::min<std::uint64_t>(region->room, max_string_length + 1);
    const auto* start = reinterpret_cast<const char*>(file_.at(region->offset, scanned));
    if (start == nullptr) return std::nullopt;
    const void* nul = std::memchr(start, 0, static_cast<std::size_t>(scanned));
    if (nul == nullptr) return std::nullopt;
    return std::string_view(start, static_cast<std::size_t>(static_cast<const char*>(nul) - start));
}

std::optional<DirectoryEntry> SectionMap::directory(std::uint32_t index) const noexcept {
    if (index >= layout_.directory_count) return std::nullopt;
    const std::uint64_t at = layout_.directories + std::uint64_t{index} * data_directory_size;
    const auto rva = file_.u32(at);
    const auto size = file_.u32(at + 4);
    if (!rva || !size) return std::nullopt;
    return DirectoryEntry{*rva, *size};
}

ByteView SectionMap::section_data(std::string_view name) const noexcept {
    if (name.size() > sizeof Section::name) return {};
    for (std::uint32_t i = 0; i < section_count_; ++i) {
        const Section& section = sections_[i];
        const std::string_view stored(section.name, strnlen(section.name, sizeof section.name));
        if (stored != name) continue;
        const std::uint8_t* data = file_.at(section.raw_offset, section.raw_size);
        return data == nullptr ? ByteView{} : ByteView{data, section.raw_size};
    }
    return {};
}

// ---- The machine

namespace {
constexpr std::uint64_t machine_at = 4;  // from the signature

struct MachineName {
    std::uint16_t machine;
    const char* name;
};
constexpr MachineName machine_names[] = {
    {machine_i386, "i386"}, {machine_x86_64, "x86-64"}, {machine_arm64, "ARM64"},
    {0x01C0, "ARM"},        {0x01C2, "Thumb"},          {0x01C4, "ARMv7"},
    {0xA641, "ARM64EC"},    {0xA64E, "ARM64X"},         {0x0200, "IA-64"},
    {0x0166, "MIPS"},       {0x01F0, "PowerPC"},        {0x5064, "RISC-V 64"},
};
}  // namespace

std::optional<std::uint16_t> read_machine(ByteView file) noexcept {
    const auto header = file.u32(lfanew_offset);
    if (!header || file.u32(*header) != pe_signature) return std::nullopt;
    return file.u16(std::uint64_t{*header} + machine_at);
}

const char* machine_name(std::uint16_t machine) noexcept {
    for (const auto& known : machine_names)
        if (known.machine == machine) return known.name;
    return nullptr;
}

}  // namespace korvex::image
