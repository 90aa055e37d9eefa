#include "os/files.h"

#include <unistd.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { ::unlink(path); }

bool long_reads_skip_stream_buffer() noexcept { return true; }

}  // namespace korvex::os
