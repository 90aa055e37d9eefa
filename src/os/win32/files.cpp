#include "os/files.h"

#include <windows.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { DeleteFileA(path); }

std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept {
    return std::fopen(path, mode);
}

bool long_reads_skip_stream_buffer() noexcept { return false; }

}  // namespace korvex::os
