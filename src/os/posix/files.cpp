#include "os/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

std::FILE* create_stream_beside(const char* path, char (&temporary)[temporary_name_room]) noexcept {
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::uint64_t random = 0;
        if (::getrandom(&random, sizeof random, 0) != sizeof random) return nullptr;
        const int length = std::snprintf(temporary, sizeof temporary, "%s.%016llx.tmp", path,
                                         static_cast<unsigned long long>(random));
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary) return nullptr;
        // O_EXCL with O_CREAT fails on any name that stands, a link to
        // anywhere (or to nothing) included.
        const int fd = ::open(
            temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return nullptr;
        std::FILE* stream = ::fdopen(fd, "wb");
        if (stream != nullptr) return stream;
        ::close(fd);
        ::unlink(temporary);
        return nullptr;
    }
    return nullptr;
}

bool move_into_place(const char* temporary, const char* path) noexcept {
    // Only a file or a link gives way: a rename run as root would as
    // readily put a work file in place of a device, a FIFO or a socket.
    struct stat facts {};
    if (::lstat(path, &facts) == 0) {
        if (!S_ISREG(facts.st_mode) && !S_ISLNK(facts.st_mode)) return false;
    } else if (errno != ENOENT) {
        return false;
    }
    return ::rename(temporary, path) == 0;
}

bool stream_length_is(std::FILE* stream, std::uint64_t length) noexcept {
    struct stat facts {};
    return ::fstat(::fileno(stream), &facts) == 0 && S_ISREG(facts.st_mode) &&
           static_cast<std::uint64_t>(facts.st_size) == length;
}

bool long_reads_skip_stream_buffer() noexcept { return true; }

namespace {

// The view and its fill flags share one area: the flags right after the
// view's last whole page.
std::size_t view_pages_bytes(std::size_t size) {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

std::size_t area_bytes(std::size_t size) { return view_pages_bytes(size) + block_count(size); }

// The private copies are made in one area kept from file to file: pages that
// earlier files brought in are written over without a page fault, and
// releasing a file unmaps nothing. An area larger than this is given back
// when its file is released.
constexpr std::size_t kept_area_limit = std::size_t{64} << 20;

struct CopyArea {
    std::uint8_t* base;
    std::size_t bytes;
};
constinit CopyArea g_area{nullptr, 0};

void release_area() noexcept {
    if (g_area.base != nullptr) ::munmap(g_area.base, g_area.bytes);
    g_area = {nullptr, 0};
}

// The area outlives every file but not the library: a host that unloads
// the shared library gets it back.
__attribute__((destructor)) void release_area_at_unload() noexcept { release_area(); }

std::uint8_t* obtain_area(std::size_t bytes) noexcept {
    if (g_area.bytes >= bytes) return g_area.base;
    release_area();
    // Not backed by the file: only the blocks read are copied into it, and
    // pages never touched cost nothing.
    void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    // A huge page would be zeroed whole (2 MiB) for the first block read
    // into it, at many times the cost of the read.
    ::madvise(region, bytes, MADV_NOHUGEPAGE);
    g_area = {static_cast<std::uint8_t*>(region), bytes};
    return g_area.base;
}

}  // namespace

// The failure codes follow the steps of a Windows mapping: open (which
// refuses a directory, as CreateFileA does), then the mapping (which refuses
// an empty file and anything that is not a regular file), then the view.
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
    std::uint8_t* area = obtain_area(area_bytes(size));
    if (area == nullptr) {
        ::close(fd);
        return MapResult::view_failed;
    }
    out.file = fd + 1;  // keeps 0 meaning "no file" even for descriptor 0
    out.view = area;
    out.size = size;
    out.filled = area + view_pages_bytes(size);
    std::memset(out.filled, 0, block_count(size));
    return MapResult::mapped;
}

void fill_blocks(const MappedFile& held, std::size_t first, std::size_t last) noexcept {
    const int fd = static_cast<int>(held.file - 1);
    fill_runs(held, first, last, [fd](std::uint8_t* view, std::size_t at, std::size_t to) {
        while (at < to) {
            const ssize_t got = ::pread(fd, view + at, to - at, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            at += static_cast<std::size_t>(got);
        }
        // The area is a no-reserve mapping: every page of it can be written.
        return RunFill{to, at};
    });
}

void release_mapped_file(MappedFile& held) noexcept {
    if (held.view != nullptr && g_area.bytes > kept_area_limit) release_area();
    if (held.file != 0) ::close(static_cast<int>(held.file - 1));
    held = MappedFile{};
}

void release_copy_keep_file(MappedFile& held) noexcept {
    // The area is the library's, given back by release_area_at_unload.
    held = MappedFile{};
}

}  // namespace korvex::os
