#include "pe/image_diagnosis.h"
#include "core/files.h"
#include "core/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/host_os.h"
#include "image/directory_lookup.h"
#include "image_readers/pe_image.h"
#include "korvex32.h"
#include "pe/other_formats.h"

namespace korvex::host {

std::string pe_damage(const image::ImageCheck& check) {
    const std::string has = ", the file has " + with_thousands(check.file_size);
    switch (check.fault) {
        case image::ImageCheck::Fault::none:
            return {};
        case image::ImageCheck::Fault::headers_cut:
            return "is damaged: cut short: its headers need " + with_thousands(check.needed) +
                   " bytes" + has;
        case image::ImageCheck::Fault::optional_header_cut:
            return "is damaged: cut short inside its optional header" + has;
        case image::ImageCheck::Fault::section_cut:
            return "is damaged: cut short: section " + std::string(check.section) + " needs " +
                   with_thousands(check.needed) + " bytes" + has;
    }
    return {};
}

std::int32_t image_kind(image::ByteView file) {
    if (file.u16(0) != std::uint16_t{'M' | 'Z' << 8}) return KORVEX_MAP_NOT_MZ;
    return image::ClassifyImage(file);
}

std::string machine_text(std::uint16_t machine) {
    if (const char* name = image::machine_name(machine)) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", machine);
    return hex;
}

const char* kind_name(std::int32_t code) {
    switch (code) {
        case KORVEX_IMAGE_PE:
            return "PE";
        case KORVEX_IMAGE_NE:
            return "NE";
        case KORVEX_IMAGE_LE:
            return "LE";
        case KORVEX_IMAGE_MZ:
            return "MZ";
        default:
            return "error";
    }
}

std::string map_failure(const std::string& path, std::int32_t code) {
    switch (code) {
        case KORVEX_MAP_NOT_MZ: {
            // Never a FIFO or device put at the path since it was mapped,
            // which could wait for ever; a file that cannot be read is none.
            char start[format_signature_size] = {};
            InputFile in;
            std::string ignored;
            std::int64_t got = 0;
            if (in.open(path, true, ignored)) got = in.read_at(0, start, sizeof start, ignored);
            const std::string format =
                other_format(std::string_view(start, got > 0 ? static_cast<std::size_t>(got) : 0));
            if (!format.empty()) return "is " + format + ", not a DOS or Windows executable";
            return "does not begin with MZ: it is not a DOS or Windows executable";
        }
        case KORVEX_MAP_OPEN_FAILED: {
            const std::string problem = file_problem(path);
            return problem.empty() ? "cannot be opened" : problem;
        }
        case KORVEX_MAP_MAPPING_FAILED:
        case KORVEX_MAP_VIEW_FAILED:
            return "could not be mapped into memory";
        default:
            return "was not understood (MapFile answered " + std::to_string(code) + ")";
    }
}

}  // namespace korvex::host
