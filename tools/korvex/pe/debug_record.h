// A PE image's debug directory as symbol tools read it: each entry's type,
// and for a CodeView entry the PDB path, GUID and age that make the
// symbol-server key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image_readers/pe_image.h"

namespace korvex::host {

inline constexpr std::uint32_t debug_directory = 6;
inline constexpr std::uint32_t debug_entry_size = 28;
// Entries read of one directory; linkers write a handful.
inline constexpr std::uint32_t max_debug_entries = 64;

struct DebugEntry {
    std::uint32_t type = 0;
    std::string type_name;  // "CodeView", "POGO", "repro", ... or "type N"
    // CodeView only: "RSDS" (GUID) or "NB10" (a 32-bit signature).
    std::string format;
    std::string pdb_path;
    std::string guid;  // "3F2504E0-4F89-11D3-9A0C-0305E82C3301", or NB10's signature
    std::uint32_t age = 0;
    std::string symbol_key;  // the GUID's hex digits and the age in hex, as symbol servers file it
};

struct DebugRecord {
    std::vector<DebugEntry> entries;
    std::string damage;  // why reading stopped; empty when the directory was whole
};

// Nothing in `entries` and no damage when the image has no debug directory.
DebugRecord read_debug_record(const image::PeImage& image);

}  // namespace korvex::host
