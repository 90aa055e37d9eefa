// The API-set schema: the table, kept in the .apiset section of the system
// folder's apisetschema.dll, that maps virtual module names such as
// "api-ms-win-core-file-l1-2-0" to the DLL that really holds their
// functions. Read in its version-6 layout (Windows 10 and later, and Wine).
//
// Layout, every offset from the section's first byte, every field 32-bit:
//   namespace (28 bytes): Version, Size, Flags, Count, EntryOffset, HashOffset, HashFactor
//   entry (24 bytes, Count of them at EntryOffset):
//     Flags, NameOffset, NameLength, HashedLength, ValueOffset, ValueCount
//   value (20 bytes, ValueCount of them at ValueOffset):
//     Flags, NameOffset, NameLength, ValueOffset, ValueLength
// Names are UTF-16LE without ".dll", lengths in bytes. An entry's first
// HashedLength bytes are its name without the last "-N" (the version the
// loader ignores). A value's name, when not empty, is the importing module
// for which that value's host applies instead of the first value's.
#pragma once

#include <cstdint>
#include <optional>

#include "image/byte_view.h"
#include "image_readers/pe_image.h"

namespace korvex::image {

// UTF-16LE text inside the schema.
struct WideText {
    const std::uint8_t* bytes = nullptr;
    std::uint32_t length = 0;  // in bytes, even
};

struct ApiSetSchema {
    ByteView data;  // the section's raw data
    std::uint32_t count = 0;
    std::uint32_t entries = 0;  // offset of the first entry
};

struct ApiSetEntry {
    WideText name;         // the whole name
    WideText hashed_name;  // the name without its last "-N"
    std::uint32_t value_count = 0;
    std::uint32_t values = 0;  // offset of the first value
};

struct ApiSetValue {
    WideText importer;  // empty for the default host
    WideText host;      // empty when the set has no host here
};

// The schema of an image that carries a version-6 .apiset section; nothing
// for any other image or version, or when the namespace header is not in the
// section. Count is believed only as far as whole entries fit in the section.
std::optional<ApiSetSchema> read_api_set_schema(const PeImage& image) noexcept;

// Entry `index` (below schema.count); nothing when its name lies outside the
// section, its hashed length exceeds its length or either is odd.
std::optional<ApiSetEntry> api_set_entry(const ApiSetSchema& schema, std::uint32_t index) noexcept;

// Value `index` of an entry (below entry.value_count); nothing when the value
// or one of its texts lies outside the section.
std::optional<ApiSetValue> api_set_value(const ApiSetSchema& schema, const ApiSetEntry& entry,
                                         std::uint32_t index) noexcept;

}  // namespace korvex::image
