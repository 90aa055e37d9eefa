#include "os/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { ::unlink(path); }

std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept {
    const bool writing = mode[0] == 'w';
    // O_NONBLOCK makes the open itself return at once whatever the path
    // names (a FIFO without a reader refuses a writer with ENXIO); O_NOCTTY
    // keeps a terminal from becoming the host's controlling terminal.
    const int access = writing ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
    const int flags = access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::open(path, flags, 0666);
    if (fd < 0) return nullptr;
    struct stat facts {};
    const bool usable =
        ::fstat(fd, &facts) == 0 && !S_ISFIFO(facts.st_mode) && !S_ISSOCK(facts.st_mode);
    const int status = usable ? ::fcntl(fd, F_GETFL) : -1;
    std::FILE* stream = status >= 0 && ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0
                            ? ::fdopen(fd, mode)
                            : nullptr;
    if (stream == nullptr) ::close(fd);
    return stream;
}

bool file_length_is(const char* path, std::uint64_t length) noexcept {
    struct stat facts {};
    return ::stat(path, &facts) == 0 && S_ISREG(facts.st_mode) &&
           static_cast<std::uint64_t>(facts.st_size) == length;
}

bool long_reads_skip_stream_buffer() noexcept { return true; }

}  // namespace korvex::os
