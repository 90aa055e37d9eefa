#include "diagnosis.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "korvex32.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The ANSI functions the library uses take at most MAX_PATH - 1 characters.
constexpr std::size_t longest_path = MAX_PATH - 1;
#endif

// The problem shared by files and folders: a path that names nothing.
std::string missing_problem(const std::string& path, fs::file_status& status) {
#ifdef _WIN32
    if (path.size() > longest_path)
        return "has a path that is too long (" + std::to_string(path.size()) +
               " characters; Windows takes at most " + std::to_string(longest_path) + " here)";
    if (path.find_first_of("*?") != std::string::npos)
        return "matches no file, or its name has characters that the ANSI code page (" +
               std::to_string(GetACP()) + ") cannot spell and no 8.3 short name";
#endif
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

std::uint32_t own_process_id() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<std::uint32_t>(getpid());
#endif
}

std::string system_error_text(int code) {
#ifdef _WIN32
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(code) : message;
#else
    return std::strerror(code);
#endif
}

std::string file_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    switch (status.type()) {
        case fs::file_type::regular:
            break;
        case fs::file_type::directory:
            return "is a folder (use -r to inspect the files in it)";
        default:
            return "is a device, not a file";
    }
#ifdef _WIN32
    // NUL, CON and COM1 look like files to the C library.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot be opened (" + system_error_text(static_cast<int>(GetLastError())) + ")";
    const bool device = GetFileType(file) != FILE_TYPE_DISK;
    CloseHandle(file);
    if (device) return "is a device, not a file";
#else
    if (access(path.c_str(), R_OK) != 0)
        return "cannot be opened (" + system_error_text(errno) + ")";
#endif
    std::error_code error;
    if (fs::file_size(native_path(path), error) == 0 && !error) return "is empty";
    return {};
}

std::string folder_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    return fs::is_directory(status) ? std::string() : "is not a folder";
}

std::string pe_damage(image::ByteView file) {
    const std::uint64_t size = file.size();
    const std::uint64_t header = file.u32(0x3C).value_or(0);
    std::uint64_t needed = header + 24;  // signature and file header
    if (needed <= size)
        needed += file.u16(header + 20).value_or(0) +
                  40 * std::uint64_t{file.u16(header + 6).value_or(0)};
    if (needed <= size) return {};
    return "is damaged: its PE headers need " + std::to_string(needed) +
           " bytes but the file ends after " + std::to_string(size);
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
