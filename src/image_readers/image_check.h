// What the loader checks of a file before it maps it as an image: that the
// headers are whole and that every section's raw data lies inside the file.
// A download cut short fails here while its import table may still read; the
// name-list exports do not look, so a tool that says whether a file can run
// must.
#pragma once

#include <cstdint>

#include "image/byte_view.h"

namespace korvex::image {

struct ImageCheck {
    enum class Fault : std::uint8_t {
        none,
        headers_cut,  // the headers (file header, optional header, section table) are cut off
        optional_header_cut,  // the optional header ends before NumberOfRvaAndSizes
        section_cut,          // a section's raw data runs past the end of the file
    };
    Fault fault = Fault::none;
    std::uint64_t needed = 0;     // the length the headers, or the section, need
    std::uint64_t file_size = 0;  // the length the file has
    char section[9] = {};         // section_cut: the section's name, NUL-terminated
    // Where the last section's raw data ends: what lies after it (an
    // installer's payload, a signature) is not part of the image.
    std::uint64_t image_end = 0;
};

// Checks the headers and every section NumberOfSections counts, in table
// order (the table where the loader places it), and answers the first fault.
// A section needs the raw data the loader reads of it: SizeOfRawData bytes,
// or VirtualSize when that is smaller and not 0.
ImageCheck check_image(ByteView file) noexcept;

}  // namespace korvex::image
