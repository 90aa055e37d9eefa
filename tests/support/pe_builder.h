// Builds small PE32 and PE32+ images in memory, so that a test can state the
// exact layout it needs (where the headers stand, which section holds what,
// how long the file is) and then bend single fields with put16/put32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvex::test {

using Bytes = std::vector<std::uint8_t>;

enum class PeKind { pe32, pe32_plus };

// Names the kind in a parameterised test's name.
struct KindName {
    template <typename ParamInfo>
    std::string operator()(const ParamInfo& param_info) const {
        return param_info.param == PeKind::pe32 ? "PE32" : "PE32plus";
    }
};

struct SectionSpec {
    std::uint32_t virtual_address = 0;
    Bytes data;
    // PointerToRawData; by default the builder places the data after the
    // headers and the data of the sections before, 0x200-aligned.
    std::optional<std::uint32_t> raw_offset;
    // SizeOfRawData as written in the header; by default data.size().
    std::optional<std::uint32_t> raw_size;
    // VirtualSize; by default the raw size.
    std::optional<std::uint32_t> virtual_size;
    // At most 8 bytes; by default ".s" and the section's index.
    std::string name;
};

class PeBuilder {
public:
    explicit PeBuilder(PeKind kind = PeKind::pe32);

    // e_lfanew, the position of "PE\0\0" (0x40 by default).
    PeBuilder& lfanew(std::uint32_t offset);
    // SizeOfOptionalHeader as written (224 for PE32, 240 for PE32+ by default).
    PeBuilder& optional_header_size(std::uint16_t size);
    // Where the section table is written; by default right after the
    // optional header, at H + 24 + SizeOfOptionalHeader.
    PeBuilder& section_table_at(std::uint32_t offset);
    // NumberOfRvaAndSizes as written (16 by default). Entries are written for
    // the directories set, whatever the count says.
    PeBuilder& directory_count(std::uint32_t count);
    PeBuilder& directory(std::uint32_t index, std::uint32_t rva, std::uint32_t size = 0);
    // NumberOfSections as written; by default the number of sections added.
    PeBuilder& section_count(std::uint16_t count);
    PeBuilder& section(SectionSpec layout);

    // The image: headers, section table and section data, as long as the
    // furthest of them reaches.
    [[nodiscard]] Bytes build() const;

    // Positions in the built file.
    [[nodiscard]] std::uint32_t header_offset() const { return lfanew_; }
    [[nodiscard]] std::uint32_t optional_header_offset() const { return lfanew_ + 24; }
    [[nodiscard]] std::uint32_t directory_entry_offset(std::uint32_t index) const;
    [[nodiscard]] std::uint32_t section_table_offset() const;
    [[nodiscard]] std::uint32_t section_header_offset(std::size_t index) const;
    [[nodiscard]] std::uint32_t raw_offset(std::size_t index) const;

private:
    [[nodiscard]] std::uint16_t optional_size() const;

    PeKind kind_;
    std::uint32_t lfanew_ = 0x40;
    std::optional<std::uint16_t> optional_header_size_;
    std::optional<std::uint32_t> section_table_at_;
    std::uint32_t directory_count_ = 16;
    struct Directory {
        std::uint32_t index, rva, size;
    };
    std::vector<Directory> directories_;
    std::optional<std::uint16_t> section_count_;
    std::vector<SectionSpec> sections_;
};

// ---- MZ files without a PE image ----------------------------------------------

// A 0x40-byte MZ header whose e_lfanew is `lfanew`, and nothing after it.
Bytes mz_header(std::uint32_t lfanew);
// An MZ header whose e_lfanew points at `signature_at`, with `signature`
// there, and zeros up to `total_size` bytes.
Bytes mz_with_signature(std::uint32_t signature_at, const Bytes& signature,
                        std::size_t total_size = 0);

// ---- Import data -----------------------------------------------------------

struct ImportSpec {
    struct Function {
        std::string name;           // by name, unless by_ordinal
        std::uint16_t ordinal = 0;  // by ordinal
        bool by_ordinal = false;
        std::uint16_t hint = 0;
    };
    std::string module;
    std::vector<Function> functions;
    bool lookup_table = true;  // false: OriginalFirstThunk 0
};

inline ImportSpec::Function by_name(std::string name) { return {std::move(name), 0, false, 0}; }
inline ImportSpec::Function by_ordinal(std::uint16_t ordinal) { return {{}, ordinal, true, 0}; }

// The parts of the import data, in the order import_data writes them.
enum class ImportPart { descriptors, tables, hint_names, module_names };

struct ImportLayout {
    std::vector<ImportPart> order = {ImportPart::descriptors, ImportPart::tables,
                                     ImportPart::hint_names, ImportPart::module_names};
    bool descriptor_terminator = true;  // the all-zero descriptor after the last
    bool table_terminators = true;      // the zero entry after each lookup table
};

// Import data for a section at `section_rva`, laid out by default as linkers
// do: the descriptors from the section's first byte and their terminator, then
// each module's lookup table, then the hint/name entries, then the
// module names. Offsets are from the section's first byte.
struct ImportData {
    Bytes bytes;
    std::uint32_t directory_at = 0;            // the first descriptor
    std::vector<std::uint32_t> descriptor_at;  // one per module
    std::vector<std::uint32_t> table_at;       // one per module, also when OriginalFirstThunk is 0
    std::vector<std::uint32_t> module_name_at;
    std::vector<std::vector<std::uint32_t>> hint_name_at;  // per module, per named function
};
ImportData import_data(PeKind kind, std::uint32_t section_rva,
                       const std::vector<ImportSpec>& modules, const ImportLayout& layout = {});

// ---- Export data -----------------------------------------------------------

// An export directory for a section at `section_rva`: the 40-byte directory
// at the section's first byte, the name pointer array after it, and the
// names stored one after another after that. NumberOfNames is names.size();
// Base is 1, and name i names address-table slot i (ordinal i + 1). When
// forwarders[i] is not empty, slot i forwards there (the string is stored
// after the names, inside the directory).
struct ExportData {
    Bytes bytes;
    std::uint32_t names_array_at = 0;  // offsets from the section's first byte
    std::uint32_t strings_at = 0;
    std::uint32_t functions_at = 0;
};
ExportData export_data(std::uint32_t section_rva, const std::vector<std::string>& names,
                       const std::vector<std::string>& forwarders = {});

// ---- Delay-import data -------------------------------------------------------

// The import data of `modules` (as import_data lays it out) followed by one
// 32-byte delay descriptor per module and an all-zero one; directory_at is
// the first delay descriptor. Descriptors are RVA-based (Attributes 1)
// unless `image_base` is given: then they hold addresses (Attributes 0),
// as old linkers wrote them.
ImportData delay_import_data(PeKind kind, std::uint32_t section_rva,
                             const std::vector<ImportSpec>& modules,
                             std::optional<std::uint64_t> image_base = std::nullopt);
inline constexpr std::uint32_t delay_descriptor_size = 32;

// ---- API-set schema ----------------------------------------------------------

// A version-6 .apiset section: one entry per set, each with the hosts given
// (none for a set without a host).
struct ApiSetSpec {
    std::string name;  // without ".dll", e.g. "api-ms-win-core-file-l1-2-0"
    std::vector<std::string> hosts;
    // The importer each host is for, beside `hosts`; missing ones are empty
    // (the default value is the first, with no importer).
    std::vector<std::string> importers = {};
};
Bytes api_set_section(const std::vector<ApiSetSpec>& sets);

// ---- Resources ---------------------------------------------------------------

// One leaf of a resource tree, of a type no other leaf has.
struct ResourceSpec {
    std::uint16_t type;
    std::uint16_t id;
    std::uint16_t language;
    Bytes data;
};
// A resource tree for a section at `section_rva`: the type directory at the
// section's first byte, then each leaf's name and language directories, the
// data entries, and the data, 4-byte aligned.
// Offsets are from the section's first byte.
struct ResourceData {
    Bytes bytes;
    std::vector<std::uint32_t> language_directory_at;  // one per leaf
    std::vector<std::uint32_t> data_entry_at;
};
ResourceData resource_data(std::uint32_t section_rva, const std::vector<ResourceSpec>& resources);
// A VS_VERSIONINFO record: the fixed part with these versions (the four
// 16-bit parts, high first) and one string table.
Bytes version_record(std::uint64_t file_version, std::uint64_t product_version,
                     const std::string& language,
                     const std::vector<std::pair<std::string, std::string>>& strings);
// An image with one section at RVA 0x1000 holding `data` and directory
// `index` pointing at its first `size` bytes.
Bytes image_with_directory(std::uint32_t index, const Bytes& data, std::uint32_t size);

// Crafted files that bound the host's memory: a PE32 program importing
// `entries` functions of alpha.dll whose lookup entries all name the one
// hint/name entry, a name of `length` bytes; an apisetschema.dll of `count`
// sets that all name the same text of `characters` characters.
Bytes shared_name_program(std::uint32_t entries, std::uint32_t length);
Bytes shared_name_schema(std::uint32_t count, std::uint32_t characters);

// Offsets of the export directory fields the name list reads.
inline constexpr std::uint32_t export_number_of_names_at = 24;
inline constexpr std::uint32_t export_address_of_names_at = 32;
// Offsets of the import descriptor fields.
inline constexpr std::uint32_t descriptor_size = 20;
inline constexpr std::uint32_t descriptor_lookup_table_at = 0;
inline constexpr std::uint32_t descriptor_name_at = 12;
// Offsets inside a section header.
inline constexpr std::uint32_t section_virtual_address_at = 12;
inline constexpr std::uint32_t section_raw_size_at = 16;
inline constexpr std::uint32_t section_raw_offset_at = 20;

// A copy of an image in a heap block of exactly its size, so that
// AddressSanitizer reports a read even one byte past the end (a vector may
// own spare capacity there).
class ExactImage {
public:
    explicit ExactImage(const Bytes& bytes)
        : size_(bytes.size()), data_(new std::uint8_t[bytes.size() ? bytes.size() : 1]) {
        if (size_ != 0) std::memcpy(data_.get(), bytes.data(), size_);
    }
    [[nodiscard]] const std::uint8_t* data() const { return data_.get(); }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::unique_ptr<std::uint8_t[]> data_;
};

// An image with an import section at RVA 0x1000 and, when `exports` is not
// empty, an export section at RVA 0x2000, with both directories set.
Bytes pe_image(PeKind kind, const std::vector<ImportSpec>& imports,
               const std::vector<std::string>& exports = {},
               const std::vector<std::string>& forwarders = {});

}  // namespace korvex::test
