// A PE file as the command-line host reads it beside the exports, its
// headers and section table parsed once into one value that every reader
// takes (the damage check, the header facts, the whole export table, the
// imports and delay imports, the API-set schema): the machine the file is
// built for, what the loader would say of it before mapping it, and RVAs
// converted to file positions the way the loader places sections.
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

// The longest name the host reads from an image (an export, forwarder,
// module or function name), and the longest string string_at finds: the
// loader's own names are far shorter, and the bound keeps a table of many
// pointers into one long unterminated run from costing its length once per
// pointer.
inline constexpr std::uint32_t max_name_length = 8192;

// What the loader checks of a file before it maps it as an image: that the
// headers are whole and that every section's data, as the loader maps it
// (loader_span), lies inside the file. A download cut short fails here while
// its import table may still read; the name-list exports do not look, so a
// tool that says whether a file can run must.
struct ImageCheck {
    enum class Fault : std::uint8_t {
        none,
        headers_cut,  // the headers (file header, optional header, section table) are cut off
        optional_header_cut,  // the optional header ends before NumberOfRvaAndSizes
        section_cut,  // a section's data, as the loader maps it, runs past the end of the file
    };
    Fault fault = Fault::none;
    // The least length the file needs: for a cut section, the loader reads
    // its last sector whole, so up to 511 bytes of it may be missing.
    std::uint64_t needed = 0;
    std::uint64_t file_size = 0;  // the length the file has
    char section[9] = {};         // section_cut: the section's name, NUL-terminated
    // Where the last section's raw data ends (PointerToRawData +
    // SizeOfRawData): what lies after it (an installer's payload, a
    // signature) is not part of the image.
    std::uint64_t image_end = 0;
    // image_end rounded up to FileAlignment (512 when that is not a power of
    // two from 512 to 64 KiB): the bytes up to here are alignment padding.
    std::uint64_t padding_end = 0;
};

// The part of the file the loader maps for one section: from
// PointerToRawData rounded down to a 512-byte sector, SizeOfRawData rounded
// up to FileAlignment and then to whole sectors, but no further than
// VirtualSize (SizeOfRawData when 0) rounded up to SectionAlignment. An image
// whose SectionAlignment is below a page is mapped as the file lies, so there
// the span is the raw data, no longer than VirtualSize. Nothing for a section
// that has no data in the file (PointerToRawData 0, or nothing to map).
struct FileSpan {
    std::uint64_t start;
    std::uint64_t end;
    // The least length of a file the loader maps the section from: past
    // the data's first byte and into the span's last sector, which the
    // loader reads whole (the end itself, for an image aligned below a page).
    std::uint64_t needed;
};
std::optional<FileSpan> loader_span(const SectionHeader& header, const ImageFacts& facts) noexcept;

class PeImage {
public:
    // Sections past this many are not used to place RVAs. The loader refuses
    // images with more than 96; the limit only bounds the work a crafted
    // table can cause (the check still reads every section header).
    static constexpr std::uint32_t max_sections = 96;

    // Parses the headers and the section table of `file` once. The check
    // goes through the headers and every section NumberOfSections counts, in
    // table order (the table where the loader places it), and keeps the
    // first fault. A section needs its loader_span in the file, but for
    // the part of the span's last sector that lies past the end of the file.
    static PeImage parse(ByteView file) noexcept;

    // Whether the headers that place the sections are in the file; without
    // them nothing below finds anything.
    [[nodiscard]] bool placed() const noexcept { return placed_; }
    [[nodiscard]] const ImageCheck& check() const noexcept { return check_; }

    [[nodiscard]] ByteView file() const noexcept { return file_; }
    [[nodiscard]] const PeLayout& layout() const noexcept { return layout_; }
    [[nodiscard]] std::uint64_t image_base() const noexcept { return layout_.image_base; }

    // The file position of `length` bytes at `rva`: inside one section's raw
    // data, or inside the headers (below SizeOfHeaders and the first
    // section). Nothing when they are not all in the file.
    [[nodiscard]] std::optional<std::uint64_t> offset_of(std::uint32_t rva,
                                                         std::uint32_t length = 1) const noexcept;

    // The NUL-terminated string at `rva`; nothing when it does not end inside
    // the data that holds it or is longer than max_name_length.
    [[nodiscard]] std::optional<std::string_view> string_at(std::uint32_t rva) const noexcept;

    // Whether the data at `rva` holds more than max_name_length bytes
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

    void keep_section(const SectionHeader& header) noexcept;

    ByteView file_;
    bool placed_ = false;
    ImageCheck check_;
    PeLayout layout_;
    std::uint32_t section_count_ = 0;
    Section sections_[max_sections] = {};
};

// ---- The machine (the file header's Machine field), in the words tools
// show it.

inline constexpr std::uint16_t machine_i386 = 0x014C;
inline constexpr std::uint16_t machine_x86_64 = 0x8664;
inline constexpr std::uint16_t machine_arm64 = 0xAA64;

// "i386", "x86-64", "ARM64", "ARM", ... for the machines Windows runs;
// nullptr for any other value.
const char* machine_name(std::uint16_t machine) noexcept;

}  // namespace korvex::image
