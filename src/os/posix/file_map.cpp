#include "os/file_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvex::os {

// POSIX has no separate mapping object; `mapping` stays 0 and the failure codes
// follow the Windows steps: open (which refuses a directory, as CreateFileA
// does), then the mapping (which refuses an empty file and anything that is
// not a regular file), then the view.
MapResult map_file_readonly(const char* path, MappedFile& out) noexcept {
    out = MappedFile{};
    // O_NONBLOCK: opening a pipe for reading would otherwise wait, for ever,
    // for a writer; it changes nothing for a regular file. O_NOCTTY: a
    // terminal named here must not become the host's controlling terminal.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return MapResult::open_failed;

    struct stat facts {};
    const bool known = ::fstat(fd, &facts) == 0;
    if (known && S_ISDIR(facts.st_mode)) {
        ::close(fd);
        return MapResult::open_failed;
    }
    if (!known || !S_ISREG(facts.st_mode) || facts.st_size <= 0) {
        ::close(fd);
        return MapResult::mapping_failed;
    }
    const auto size = static_cast<std::size_t>(facts.st_size);
    void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return MapResult::view_failed;
    }
    out.file = fd + 1;  // keeps 0 meaning "no file" even for descriptor 0
    out.view = static_cast<const std::uint8_t*>(view);
    out.size = size;
    return MapResult::mapped;
}

void release_mapped_file(MappedFile& held) noexcept {
    if (held.view != nullptr) ::munmap(const_cast<std::uint8_t*>(held.view), held.size);
    if (held.file != 0) ::close(static_cast<int>(held.file - 1));
    held = MappedFile{};
}

}  // namespace korvex::os
