#include "image_readers/pe_image.h"

#include <algorithm>
#include <cstring>

namespace korvex::image {

namespace {

// File positions of section data are whole sectors to the loader, whatever
// FileAlignment says; a section is mapped in whole pages.
constexpr std::uint64_t sector = 512;
constexpr std::uint64_t page = 4096;
// The largest FileAlignment and SectionAlignment the loader takes as such.
constexpr std::uint32_t max_file_alignment = 0x10000;
constexpr std::uint32_t max_section_alignment = 0x80000000;

std::uint64_t round_up(std::uint64_t value, std::uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// A power of two from `least` to `most`: what the loader takes as an alignment.
bool aligned_unit(std::uint32_t value, std::uint64_t least, std::uint64_t most) {
    return value >= least && value <= most && (value & (value - 1)) == 0;
}

}  // namespace

std::optional<FileSpan> loader_span(const SectionHeader& header, const ImageFacts& facts) noexcept {
    const std::uint64_t pointer = header.pointer_to_raw_data;
    // A section without a file position holds no data, whatever its size says.
    if (pointer == 0) return std::nullopt;
    const std::uint64_t shown =
        header.virtual_size != 0 ? header.virtual_size : header.size_of_raw_data;
    if (!aligned_unit(facts.section_alignment, page, max_section_alignment)) {
        // An image aligned below a page is mapped as the file lies: the
        // section's data is its raw data, no more than its virtual size holds.
        const std::uint64_t read = std::min<std::uint64_t>(header.size_of_raw_data, shown);
        if (read == 0) return std::nullopt;
        return FileSpan{pointer, pointer + read, pointer + read};
    }
    // The raw size is rounded up to FileAlignment (where that is above a
    // sector), then the span from the sector the data starts in up to whole
    // sectors; it stops where the section's virtual size, in whole
    // SectionAlignment units, ends.
    std::uint64_t raw = header.size_of_raw_data;
    if (aligned_unit(facts.file_alignment, sector * 2, max_file_alignment))
        raw = round_up(raw, facts.file_alignment);
    const std::uint64_t start = pointer / sector * sector;
    const std::uint64_t mapped = round_up(shown, facts.section_alignment);
    const std::uint64_t length = std::min(round_up(raw + (pointer - start), sector), mapped);
    if (length == 0) return std::nullopt;
    // The loader reads the file's last sector whole, so the span's last 511
    // bytes or fewer may be missing; the data's first byte may not.
    const std::uint64_t end = start + length;
    return FileSpan{start, end, std::max(pointer + 1, (end - 1) / sector * sector + 1)};
}

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
    const ImageFacts facts = read_image_facts(file, image.layout_);
    const std::uint32_t count = image.layout_.file_header.section_count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto header = read_section_header(file, image.layout_, i);
        if (!header) break;
        if (i < max_sections) image.keep_section(*header);
        if (!check_sections) {
            if (i + 1 >= max_sections) break;
            continue;
        }
        const auto span = loader_span(*header, facts);
        if (!span) continue;
        check.image_end = std::max(
            check.image_end, std::uint64_t{header->pointer_to_raw_data} + header->size_of_raw_data);
        if (span->needed > file.size() && check.fault == ImageCheck::Fault::none) {
            check.fault = ImageCheck::Fault::section_cut;
            check.needed = span->needed;
            std::memcpy(check.section, header->name, sizeof header->name);
        }
    }
    if (check_sections) {
        const std::uint32_t unit = aligned_unit(facts.file_alignment, sector, max_file_alignment)
                                       ? facts.file_alignment
                                       : std::uint32_t{sector};
        check.padding_end = round_up(check.image_end, unit);
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
