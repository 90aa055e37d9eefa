// The PE headers, read in one place, and the data directory lookup over them.
//
// Where each header field stands (e_lfanew, the file header, the optional
// header's fields, the section table and the data directories) is written
// down only in directory_lookup.cpp: the DLL's name lists, the host's readers
// (src/image_readers) and the host's damage check all take the headers from
// the readers below. Each caller keeps its own rule for what to do with them.
//
// The directory lookup: a directory is named by an RVA; the first section (in
// table order) whose raw data covers that RVA converts it to a file position,
// and every further RVA met inside that directory's data is converted through
// the same section, even when another section holds it. PE32 and PE32+
// differ only in where the header fields stand and in the width of an import
// lookup entry.
#pragma once

#include <cstdint>
#include <optional>

#include "image/byte_view.h"

namespace korvex::image {

// Where the offset of the "PE\0\0" signature is kept, and the signature.
inline constexpr std::uint64_t lfanew_offset = 0x3C;
inline constexpr std::uint32_t pe_signature = 0x00004550;

inline constexpr std::uint64_t section_header_size = 40;

inline constexpr std::uint32_t export_directory = 0;
inline constexpr std::uint32_t import_directory = 1;
inline constexpr std::uint32_t delay_import_directory = 13;
inline constexpr std::uint32_t clr_runtime_directory = 14;

// Where the fields of the records the import and export directories hold
// stand, written down once for the DLL's name lists and the host's readers.
namespace import_descriptor_layout {  // one per imported module, a zeroed one last
inline constexpr std::uint64_t size = 20;
inline constexpr std::uint64_t original_first_thunk_at = 0;  // the lookup table
inline constexpr std::uint64_t name_at = 12;
inline constexpr std::uint64_t first_thunk_at = 16;  // the address table
}  // namespace import_descriptor_layout

namespace export_directory_layout {
inline constexpr std::uint64_t size = 40;
inline constexpr std::uint64_t name_at = 12;
inline constexpr std::uint64_t base_at = 16;
inline constexpr std::uint64_t number_of_functions_at = 20;
inline constexpr std::uint64_t number_of_names_at = 24;
inline constexpr std::uint64_t address_of_functions_at = 28;
inline constexpr std::uint64_t address_of_names_at = 32;
inline constexpr std::uint64_t address_of_name_ordinals_at = 36;
}  // namespace export_directory_layout

// The kind of MZ file whose e_lfanew points at the signature: the file must
// begin with "MZ". Answers KORVEX_IMAGE_NE, _LE, _PE or _MZ; a signature
// that does not lie wholly inside the file is no signature (MZ).
std::int32_t ClassifyImage(ByteView file) noexcept;

// The signature and the 20-byte file header after it.
struct FileHeader {
    std::uint64_t at = 0;                    // H: file offset of "PE\0\0" (e_lfanew)
    std::uint16_t machine = 0;               // Machine
    std::uint16_t section_count = 0;         // NumberOfSections, as the file says
    std::uint16_t optional_header_size = 0;  // SizeOfOptionalHeader, as the file says
};

// Reads e_lfanew and the file header. Nothing when either does not lie
// wholly inside the file. The signature itself is not checked.
std::optional<FileHeader> read_file_header(ByteView file) noexcept;

// How long a file must be to hold its headers whole, as the loader reads
// them: the signature and file header, the optional header at the length
// SizeOfOptionalHeader states (PE32 too) and NumberOfSections section
// headers. When the file header is cut off, the length that would hold it;
// when e_lfanew is, the length that would hold e_lfanew.
std::uint64_t headers_end(ByteView file) noexcept;

enum class PeFormat : std::uint8_t { pe32, pe32_plus };

struct PeLayout {
    FileHeader file_header;
    PeFormat format = PeFormat::pe32;
    std::uint64_t section_table = 0;    // file offset of the first section header
    std::uint32_t directory_count = 0;  // NumberOfRvaAndSizes
    std::uint64_t directories = 0;      // file offset of DataDirectory[0]
    std::uint64_t image_base = 0;       // ImageBase (64 bits wide in PE32+)
    std::uint32_t size_of_headers = 0;  // SizeOfHeaders
};

// Reads the file header, the optional header's Magic and the fields after it
// up to NumberOfRvaAndSizes. Nothing when one of them lies outside the file.
// The signature itself is not checked: MapFile has done that.
//
// A PE32 image's section table is taken at H + 248 (a 224-byte optional
// header) whatever SizeOfOptionalHeader says; a PE32+ image's where its
// optional header ends at the length it states, as the loader places it.
std::optional<PeLayout> read_pe_layout(ByteView file) noexcept;

// The layout with the section table where the Windows loader looks for it:
// after the optional header at the length SizeOfOptionalHeader states, PE32
// too. The host's readers, which read as the loader does, take this one.
PeLayout loader_layout(const PeLayout& layout) noexcept;

// The header fields tools show beside the layout, read only when asked. Each
// lies before NumberOfRvaAndSizes, so a layout that was read has them all.
struct ImageFacts {
    std::uint32_t time_stamp = 0;         // the file header's TimeDateStamp
    std::uint16_t characteristics = 0;    // the file header's Characteristics
    std::uint32_t entry_point = 0;        // AddressOfEntryPoint, an RVA
    std::uint32_t section_alignment = 0;  // SectionAlignment
    std::uint32_t file_alignment = 0;     // FileAlignment
    std::uint32_t size_of_image = 0;      // SizeOfImage
    std::uint16_t subsystem = 0;          // Subsystem
    std::uint16_t dll_characteristics = 0;
};
ImageFacts read_image_facts(ByteView file, const PeLayout& layout) noexcept;

// The fields of a section header that name and place its data.
struct SectionHeader {
    std::uint64_t offset = 0;  // file offset of the 40-byte header itself
    char name[8] = {};         // as the header holds it: not NUL-terminated when 8 long
    std::uint32_t virtual_size = 0;
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

// Section header `index` of the layout's table, whatever NumberOfSections
// says; nothing when it does not lie wholly inside the file.
std::optional<SectionHeader> read_section_header(ByteView file, const PeLayout& layout,
                                                 std::uint32_t index) noexcept;

struct DirectoryEntry {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// The RVA of data directory `index`. Nothing when `index` is not below
// NumberOfRvaAndSizes (unsigned) or the RVA lies outside the file; the size
// after it is not read.
std::optional<std::uint32_t> read_directory_rva(ByteView file, const PeLayout& layout,
                                                std::uint32_t index) noexcept;

// Data directory `index` whole: nothing also when its size lies outside the
// file.
std::optional<DirectoryEntry> read_directory(ByteView file, const PeLayout& layout,
                                             std::uint32_t index) noexcept;

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
// The same with the layout read_pe_layout answered for `file`.
std::optional<DirectoryLocation> find_directory(ByteView file, const PeLayout& layout,
                                                std::uint32_t index) noexcept;

}  // namespace korvex::image
