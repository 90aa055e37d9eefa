#include "image_readers/pe_image.h"

#include <algorithm>
#include <cstring>

namespace korvex::image {

PeImage PeImage::parse(ByteView file) noexcept {
    PeImage image;
    image.file_ = file;
    ImageCheck& check = image.check_;
    check.file_size = file.size();
    const std::uint64_t headers = headers_end(file);
    if (headers > file.size()) {
        check.fault = ImageCheck::Fault::headers_cut;
        check.needed = headers;
    }
    const auto stated = read_pe_layout(file);
    if (!stated) {
        if (check.fault == ImageCheck::Fault::none)
            check.fault = ImageCheck::Fault::optional_header_cut;
        return image;
    }
    image.placed_ = true;
    image.layout_ = loader_layout(*stated);
    // Cut headers are the one fault: no section is checked after them.
    const bool check_sections = check.fault == ImageCheck::Fault::none;
    if (check_sections) check.image_end = headers;
    const std::uint32_t count = image.layout_.file_header.section_count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto header = read_section_header(file, image.layout_, i);
        if (!header) break;
        if (i < max_sections) image.keep_section(*header);
        if (!check_sections) {
            if (i + 1 >= max_sections) break;
            continue;
        }
        // The loader reads no more of a section's raw data than its virtual
        // size holds (all of it when VirtualSize is 0).
        const std::uint32_t read = header->virtual_size == 0
                                       ? header->size_of_raw_data
                                       : std::min(header->size_of_raw_data, header->virtual_size);
        if (read == 0) continue;
        const std::uint64_t end = std::uint64_t{header->pointer_to_raw_data} + read;
        check.image_end = std::max(check.image_end, end);
        if (end > file.size() && check.fault == ImageCheck::Fault::none) {
            check.fault = ImageCheck::Fault::section_cut;
            check.needed = end;
            std::memcpy(check.section, header->name, sizeof header->name);
        }
    }
    return image;
}

void PeImage::keep_section(const SectionHeader& header) noexcept {
    Section& section = sections_[section_count_++];
    std::memcpy(section.name, header.name, sizeof section.name);
    section.virtual_address = header.virtual_address;
    section.raw_offset = header.pointer_to_raw_data;
    const std::uint64_t in_file =
        section.raw_offset < file_.size() ? file_.size() - section.raw_offset : 0;
    section.raw_size =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(header.size_of_raw_data, in_file));
}

namespace {

// Where an RVA's bytes stand in the file and how many follow it in the same
// section (or in the headers).
struct Region {
    std::uint64_t offset;
    std::uint64_t room;
};

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

std::optional<std::uint64_t> PeImage::offset_of(std::uint32_t rva,
                                                std::uint32_t length) const noexcept {
    const auto region = region_of(sections_, section_count_, layout_.size_of_headers, file_, rva);
    if (!region || length > region->room) return std::nullopt;
    return region->offset;
}

std::optional<std::string_view> PeImage::string_at(std::uint32_t rva) const noexcept {
    const auto region = region_of(sections_, section_count_, layout_.size_of_headers, file_, rva);
    if (!region) return std::nullopt;
    const std::uint64_t scanned = std::min<std::uint64_t>(region->room, max_name_length + 1);
    const auto* start = reinterpret_cast<const char*>(file_.at(region->offset, scanned));
    if (start == nullptr) return std::nullopt;
    const void* nul = std::memchr(start, 0, static_cast<std::size_t>(scanned));
    if (nul == nullptr) return std::nullopt;
    return std::string_view(start, static_cast<std::size_t>(static_cast<const char*>(nul) - start));
}

bool PeImage::string_too_long(std::uint32_t rva) const noexcept {
    const auto region = region_of(sections_, section_count_, layout_.size_of_headers, file_, rva);
    if (!region || region->room <= max_name_length) return false;
    const auto* start = file_.at(region->offset, max_name_length + 1);
    return start != nullptr && std::memchr(start, 0, max_name_length + 1) == nullptr;
}

std::optional<DirectoryEntry> PeImage::directory(std::uint32_t index) const noexcept {
    return read_directory(file_, layout_, index);
}

ByteView PeImage::section_data(std::string_view name) const noexcept {
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

const char* machine_name(std::uint16_t machine) noexcept {
    for (const auto& known : machine_names)
        if (known.machine == machine) return known.name;
    return nullptr;
}

}  // namespace korvex::image
