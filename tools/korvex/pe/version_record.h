// A PE image's version record (RT_VERSION) as Explorer's property page and
// pefile show it: the fixed file and product versions, and the strings of
// the first language's table that people look up.
#pragma once

#include <optional>
#include <string>

#include "image/byte_view.h"
#include "image_readers/pe_image.h"
#include "pe/resource_tree.h"

namespace korvex::host {

struct VersionRecord {
    std::string file_version;     // "10.0.19041.1" from the fixed part; empty without one
    std::string product_version;  // likewise
    std::string language;         // the first string table's key, "040904b0"; empty without one
    std::string company_name;
    std::string product_name;
    std::string file_description;
    std::string original_filename;
    std::string damage;  // why reading stopped early; empty when the record was whole
};

// The first RT_VERSION resource's record; nothing when the image has none.
std::optional<VersionRecord> read_version_record(const image::PeImage& image,
                                                 const ResourceFind& resources);

// The record in `bytes` (a VS_VERSIONINFO block), read within its lengths:
// a block whose length runs past its parent's, or that is shorter than its
// own header, ends the walk with the damage named.
VersionRecord parse_version_record(image::ByteView bytes);

}  // namespace korvex::host
