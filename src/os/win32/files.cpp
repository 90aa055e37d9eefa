#include "os/files.h"

#include <windows.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { DeleteFileA(path); }

bool is_fifo(const char*) noexcept { return false; }

bool long_reads_skip_stream_buffer() noexcept { return false; }

}  // namespace korvex::os
