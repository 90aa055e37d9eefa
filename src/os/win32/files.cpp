#include "os/files.h"

#include <windows.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { DeleteFileA(path); }

bool long_reads_skip_stream_buffer() noexcept { return false; }

}  // namespace korvex::os
