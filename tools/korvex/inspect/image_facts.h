// What inspect tells of a PE image beside the library's lists, as readpe,
// objdump and pefile users expect it: the header facts (subsystem, DLL
// characteristics, time stamp, entry point, size, .NET) and the whole export
// table with ordinals and forwarders, read from korvex's own view as the
// loader reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "image_readers/pe_image.h"

namespace korvex::host {

struct HeaderFacts {
    bool dll = false;  // the file header's IMAGE_FILE_DLL
    std::uint16_t subsystem = 0;
    std::uint16_t dll_characteristics = 0;
    std::uint32_t time_stamp = 0;  // seconds since 1970, UTC; often a hash in reproducible builds
    std::uint32_t entry_point = 0;
    std::uint32_t image_size = 0;
    bool dotnet = false;            // has a CLR runtime header: a .NET assembly
    std::uint64_t image_end = 0;    // where the last section's raw data ends
    std::uint64_t padding_end = 0;  // image_end rounded up to FileAlignment
    std::uint64_t file_size = 0;    // bytes past image_end are not part of the image

    // The bytes after image_end that only pad it to FileAlignment, and those
    // after that: symbols, a signature or an appended payload.
    [[nodiscard]] std::uint64_t padding() const;
    [[nodiscard]] std::uint64_t after_image() const;
};

HeaderFacts read_header_facts(const image::PeImage& image);

// "console", "GUI", "EFI application", ... or the number.
std::string subsystem_name(std::uint16_t subsystem);
// "ASLR", "DEP", "CFG", ... one for each flag set, in bit order.
std::vector<std::string> dll_characteristic_names(std::uint16_t flags);
// "2023-02-18 12:00:00 UTC"; empty for 0.
std::string time_stamp_text(std::uint32_t seconds);

// The header facts as inspect prints them, a few lines of text each starting
// with two blanks.
std::string header_facts_text(const HeaderFacts& facts);
nlohmann::json header_facts_json(const HeaderFacts& facts);

struct ExportEntry {
    std::uint32_t ordinal = 0;
    std::string name;       // empty: exported by ordinal only
    std::string forwarder;  // "MODULE.Name" when the export forwards
};

// Every slot of the export address table that holds something, in ordinal
// order, with its first name and its forwarder; names pointing at empty
// slots are left out. At most `limit` entries.
std::vector<ExportEntry> read_export_entries(const image::PeImage& image,
                                             std::size_t limit = 1u << 16);

}  // namespace korvex::host
