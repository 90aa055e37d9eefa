// The whole export table of a PE image, as the loader resolves imports
// against it: every name with the address-table slot it names, each slot
// either code in the image or a forwarder to another module's export.
//
// The name-list export lists only the names, stored one after another; a
// tool that checks imports needs the ordinals and forwarders too.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image_readers/pe_image.h"

namespace korvex::image {

struct ExportTable {
    DirectoryEntry directory;          // the export directory's RVA and size
    std::string_view module_name;      // the Name field; empty when unreadable
    std::uint32_t ordinal_base = 0;    // Base
    std::uint32_t function_count = 0;  // NumberOfFunctions
    std::uint32_t name_count = 0;      // NumberOfNames
    std::uint32_t functions = 0;       // RVAs of the three arrays
    std::uint32_t names = 0;
    std::uint32_t name_ordinals = 0;
};

// Nothing when the image has no export directory or its 40 bytes are not in
// the file.
std::optional<ExportTable> read_export_table(const PeImage& image) noexcept;

struct ExportedName {
    std::string_view name;
    std::uint32_t slot = 0;  // index into the address table (ordinal - Base)
};

// The exported names in name-array order. The walk ends at NumberOfNames, or
// at the first name-array element, name ordinal or name that is not in the
// file; each step reads 4 bytes further into the array, so it ends within
// the file's size / 4 steps whatever the counts claim.
class ExportNameWalk {
public:
    ExportNameWalk(const PeImage& image, const ExportTable& table) noexcept
        : image_(image), table_(table) {}

    std::optional<ExportedName> next() noexcept;

    // The walk stopped at a name longer than max_name_length.
    [[nodiscard]] bool name_too_long() const noexcept { return name_too_long_; }

private:
    const PeImage& image_;
    const ExportTable& table_;
    std::uint32_t index_ = 0;
    bool ended_ = false;
    bool name_too_long_ = false;
};

struct ExportTarget {
    enum class Kind : std::uint8_t { none, code, forwarder };
    Kind kind = Kind::none;
    std::string_view forwarder;  // "MODULE.Name" or "MODULE.#123" when a forwarder
    // Kind none because the forwarder string runs past max_name_length.
    bool too_long = false;
};

// What address-table slot `slot` holds. A slot at or past NumberOfFunctions,
// outside the file, or 0 holds nothing. A slot whose RVA lies inside the
// export directory is a forwarder: the string there names the export that
// really holds it (none when the string does not end in the file, with
// too_long set when it is longer than max_name_length).
ExportTarget export_target(const PeImage& image, const ExportTable& table,
                           std::uint32_t slot) noexcept;

}  // namespace korvex::image
