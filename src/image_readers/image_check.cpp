#include "image_readers/image_check.h"

#include <algorithm>
#include <cstring>

#include "image/directory_lookup.h"

namespace korvex::image {

ImageCheck check_image(ByteView file) noexcept {
    ImageCheck check;
    check.file_size = file.size();
    const std::uint64_t headers = headers_end(file);
    const auto layout = read_pe_layout(file);
    if (headers > file.size()) {
        check.fault = ImageCheck::Fault::headers_cut;
        check.needed = headers;
        return check;
    }
    if (!layout) {
        check.fault = ImageCheck::Fault::optional_header_cut;
        return check;
    }
    check.image_end = headers;
    const PeLayout placed = loader_layout(*layout);
    for (std::uint32_t i = 0; i < placed.file_header.section_count; ++i) {
        // headers_end counted the whole table, so every header is in the file.
        const auto section = read_section_header(file, placed, i);
        if (!section) break;
        // The loader reads no more of a section's raw data than its virtual
        // size holds (all of it when VirtualSize is 0).
        const std::uint32_t read = section->virtual_size == 0
                                       ? section->size_of_raw_data
                                       : std::min(section->size_of_raw_data, section->virtual_size);
        if (read == 0) continue;
        const std::uint64_t end = std::uint64_t{section->pointer_to_raw_data} + read;
        check.image_end = std::max(check.image_end, end);
        if (end > file.size() && check.fault == ImageCheck::Fault::none) {
            check.fault = ImageCheck::Fault::section_cut;
            check.needed = end;
            std::memcpy(check.section, section->name, sizeof section->name);
        }
    }
    return check;
}

}  // namespace korvex::image
