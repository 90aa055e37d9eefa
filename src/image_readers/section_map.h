// What the readers the command-line host uses beside the exports (the whole
// export table, delay imports, the API-set schema) take from the headers: the
// machine the file is built for, and RVAs converted to file positions the way
// the loader places sections.
//
// The name-list exports convert every RVA of a directory through the section
// that holds the directory's first byte; these readers instead take, for each
// RVA, the first section in table order whose data in the file covers it, so
// that an export table or delay-import directory spread over several
// sections reads as the loader sees it. The headers themselves are read
// where the DLL reads them (image/directory_lookup.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "image/byte_view.h"
#include "image/directory_lookup.h"

namespace korvex::image {

class SectionMap {
public:
    // Sections past this many are not used. The loader refuses images with
    // more than 96; the limit only bounds the work a crafted table can cause.
    static constexpr std::uint32_t max_sections = 96;

    // Nothing when the headers that place the sections are not in the file.
    static std::optional<SectionMap> read(ByteView file) noexcept;

    [[nodiscard]] ByteView file() const noexcept { return file_; }
    [[nodiscard]] const PeLayout& layout() const noexcept { return layout_; }
    [[nodiscard]] std::uint64_t image_base() const noexcept { return layout_.image_base; }

    // The file position of `length` bytes at `rva`: inside one section's raw
    // data, or inside the headers (below SizeOfHeaders and the first
    // section). Nothing when they are not all in the file.
    [[nodiscard]] std::optional<std::uint64_t> offset_of(std::uint32_t rva,
                                                         std::uint32_t length = 1) const noexcept;

    // Longest string string_at finds. Export, forwarder and module names are
    // far shorter; the bound keeps a table of many pointers into one long
    // unterminated run from costing its length once per pointer.
    static constexpr std::uint32_t max_string_length = 8192;

    // The NUL-terminated string at `rva`; nothing when it does not end inside
    // the data that holds it or is longer than max_string_length.
    [[nodiscard]] std::optional<std::string_view> string_at(std::uint32_t rva) const noexcept;

    // Whether the data at `rva` holds more than max_string_length bytes
    // before any NUL: what tells a name too long for string_at from one that
    // runs out of the file.
    [[nodiscard]] bool string_too_long(std::uint32_t rva) const noexcept;

    // Data directory `index`; nothing when it is not below NumberOfRvaAndSizes
    // or not in the file. A directory of RVA 0 reads as {0, size}.
    [[nodiscard]] std::optional<DirectoryEntry> directory(std::uint32_t index) const noexcept;

    // The raw data of the first section of this name (at most 8 bytes, as the
    // header holds it), cut at the end of the file; empty when there is none.
    [[nodiscard]] ByteView section_data(std::string_view name) const noexcept;

private:
    struct Section {
        std::uint32_t virtual_address;
        std::uint32_t raw_size;    // SizeOfRawData, cut at the end of the file
        std::uint64_t raw_offset;  // PointerToRawData
        char name[8];
    };

    ByteView file_;
    PeLayout layout_;
    std::uint32_t section_count_ = 0;
    Section sections_[max_sections] = {};
};

// ---- The machine (the file header's Machine field), in the words tools
// show it.

inline constexpr std::uint16_t machine_i386 = 0x014C;
inline constexpr std::uint16_t machine_x86_64 = 0x8664;
inline constexpr std::uint16_t machine_arm64 = 0xAA64;

// The Machine field of a PE image; nothing when the file has no "PE\0\0"
// signature at e_lfanew or its file header does not lie wholly inside the
// file.
std::optional<std::uint16_t> read_machine(ByteView file) noexcept;

// "i386", "x86-64", "ARM64", "ARM", ... for the machines Windows runs;
// nullptr for any other value.
const char* machine_name(std::uint16_t machine) noexcept;

}  // namespace korvex::image
