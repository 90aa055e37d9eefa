#include "os/files.h"

#include <windows.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { DeleteFileA(path); }

std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept {
    return std::fopen(path, mode);
}

bool file_length_is(const char* path, std::uint64_t length) noexcept {
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &facts)) return false;
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    return (static_cast<std::uint64_t>(facts.nFileSizeHigh) << 32 | facts.nFileSizeLow) == length;
}

bool long_reads_skip_stream_buffer() noexcept { return false; }

}  // namespace korvex::os
