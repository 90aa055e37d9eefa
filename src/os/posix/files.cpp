#include "os/files.h"

#include <sys/stat.h>
#include <unistd.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { ::unlink(path); }

bool is_fifo(const char* path) noexcept {
    struct stat facts {};
    return ::stat(path, &facts) == 0 && S_ISFIFO(facts.st_mode);
}

bool long_reads_skip_stream_buffer() noexcept { return true; }

}  // namespace korvex::os
