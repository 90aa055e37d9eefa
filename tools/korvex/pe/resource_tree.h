// The resources the host reads of a PE image: its manifests and its version
// record, found in the resource tree (type, name, language) and read
// through the sections that hold them. The tree comes from the file, so it
// is walked with bounds: three levels and no deeper, a ceiling on the
// entries looked at, each leaf's data inside the file and no larger than
// its kind may be. A tree that breaks one of these is reported as damaged
// and not followed further; what was found before the break is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/byte_view.h"
#include "image_readers/pe_image.h"

namespace korvex::host {

inline constexpr std::uint32_t resource_directory = 2;
inline constexpr std::uint16_t rt_version = 16;
inline constexpr std::uint16_t rt_manifest = 24;

// Entries of the tree looked at in one file, over all three levels. Only the
// manifest and version types are walked below the first level; real files
// hold a few of each.
inline constexpr std::uint32_t max_resource_entries = 65536;
// The largest manifest read: real ones are a few kilobytes.
inline constexpr std::uint32_t max_manifest_bytes = 1u << 20;
// A version record's length is a 16-bit field.
inline constexpr std::uint32_t max_version_bytes = 0xFFFF;

struct ResourceItem {
    std::uint32_t id = 0;  // the name level's integer id
    std::uint16_t language = 0;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct ResourceFind {
    std::vector<ResourceItem> manifests;  // by id, as the tree sorts them
    std::vector<ResourceItem> versions;
    std::string damage;  // why the tree was not followed; empty when it was whole
};

// The RT_MANIFEST and RT_VERSION leaves with integer ids. Named leaves are
// passed over: the loader asks for manifests by number.
ResourceFind find_resources(const image::PeImage& image);

// The bytes of a leaf; nothing when they are not all inside the file.
std::optional<image::ByteView> resource_bytes(const image::PeImage& image,
                                              const ResourceItem& item);

// UTF-16LE text as UTF-8, up to the first NUL of `units` code units; an
// unpaired surrogate becomes U+FFFD.
std::string utf8_of_utf16(const std::uint8_t* bytes, std::size_t units);

// Appends one code point (at most U+10FFFF) as UTF-8.
void append_code_point(std::string& out, std::uint32_t code);

}  // namespace korvex::host
