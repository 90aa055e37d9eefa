// Finds the data of a PE data directory in the file as it lies on disk.
//
// A directory is named by an RVA; the first section (in table order) whose
// raw data covers that RVA converts it to a file position, and every further
// RVA met inside that directory's data is converted through the same section,
// even when another section holds it.
//
// The lookup starts from the PeLayout: where the header fields it needs stand
// in the file, read once. PE32 and PE32+ differ only in these positions and
// in the width of an import lookup entry.
#pragma once

#include <cstdint>
#include <optional>

#include "image/byte_view.h"

namespace korvex::image {

// Where the offset of the "PE\0\0" signature is kept, and the signature.
inline constexpr std::uint64_t lfanew_offset = 0x3C;
inline constexpr std::uint32_t pe_signature = 0x00004550;

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

inline constexpr std::uint32_t export_directory = 0;
inline constexpr std::uint32_t import_directory = 1;

// The three fields of a section header that place its data.
struct SectionHeader {
    std::uint64_t offset = 0;  // file offset of the 40-byte header itself
    std::uint32_t virtual_address = 0;
    std::uint32_t size_of_raw_data = 0;
    std::uint32_t pointer_to_raw_data = 0;

    // The file position of `rva` + `extra` by this section's placement:
    // PointerToRawData - VirtualAddress + rva + extra, taken without
    // wrapping. Nothing when the result is negative or beyond 32 bits (where
    // 32-bit arithmetic would wrap) or when it lies outside `file`.
    [[nodiscard]] std::optional<std::uint64_t> file_offset(ByteView file, std::uint32_t rva,
                                                           std::uint32_t extra = 0) const noexcept;
};

// A directory that was found: the file position of its first byte and the
// section that converts its RVAs.
struct DirectoryLocation {
    PeLayout layout;
    std::uint64_t data = 0;
    SectionHeader section;
};

// Looks directory `index` up. Nothing when:
//  - a header field it needs lies outside the file;
//  - `index` is not below NumberOfRvaAndSizes;
//  - no section holds the directory's RVA. A section holds r when
//    VirtualAddress <= r < VirtualAddress + SizeOfRawData, the sum in 32 bits
//    (so a section whose end wraps past 4 GiB holds nothing). The search
//    visits the headers in table order and ends at the first one that does
//    not lie wholly inside the file;
//  - the converted position of the directory's first byte lies outside the file.
std::optional<DirectoryLocation> find_directory(ByteView file, std::uint32_t index) noexcept;

}  // namespace korvex::image
