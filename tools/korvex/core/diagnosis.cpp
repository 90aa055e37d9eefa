#include "core/diagnosis.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/host_os.h"
#include "image/directory_lookup.h"
#include "image_readers/image_check.h"
#include "image_readers/section_map.h"
#include "korvex32.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

// The problem shared by files and folders: a path that names nothing.
std::string missing_problem(const std::string& path, fs::file_status& status) {
    if (std::string problem = unusable_path(path); !problem.empty()) return problem;
    std::error_code error;
    status = fs::status(native_path(path), error);
    if (!error) return {};
    if (error == std::errc::no_such_file_or_directory) return "does not exist";
    if (error == std::errc::filename_too_long)
        return "has a path that is too long (" + error.message() + ")";
    if (error == std::errc::not_a_directory)
        return "does not exist (a part of its path is a file, not a folder)";
    return "cannot be examined (" + error.message() + ")";
}

}  // namespace

std::string file_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    switch (status.type()) {
        case fs::file_type::regular:
            break;
        case fs::file_type::directory:
            return "is a folder";
        default:
            return "is a device, not a file";
    }
    if (std::string problem = unreadable_file_problem(path); !problem.empty()) return problem;
    std::error_code error;
    if (fs::file_size(native_path(path), error) == 0 && !error) return "is empty";
    return {};
}

std::string folder_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    return fs::is_directory(status) ? std::string() : "is not a folder";
}

std::string with_thousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string pe_damage(image::ByteView file) {
    const image::ImageCheck check = image::check_image(file);
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
    return image::classify_image(file);
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
            char start[4] = {};
            std::ifstream(path, std::ios::binary).read(start, sizeof start);
            if (std::memcmp(start,
                            "\x7F"
                            "ELF",
                            4) == 0)
                return "is an ELF file (a Linux or Unix program or library), not a DOS or Windows "
                       "executable";
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
