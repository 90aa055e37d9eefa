#include "floor.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvex::bench {

namespace {

constexpr std::size_t page = 4096;

std::uint32_t u32(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < 4) return 0;
    std::uint32_t value;
    std::memcpy(&value, data + offset, 4);
    return value;
}

std::uint16_t u16(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < 2) return 0;
    std::uint16_t value;
    std::memcpy(&value, data + offset, 2);
    return value;
}

// Touches the header page and the pages of the sections holding the export
// and import directories.
std::uint64_t touch_image(const std::uint8_t* data, std::size_t size) {
    std::uint64_t sum = data[0];
    const std::size_t header = u32(data, size, 0x3C);
    if (u32(data, size, header) != 0x4550) return sum;
    const std::uint16_t sections = u16(data, size, header + 6);
    const std::uint16_t optional_size = u16(data, size, header + 20);
    const bool plus = u16(data, size, header + 24) == 0x20B;
    const std::size_t directories = header + 24 + (plus ? 112 : 96);
    const std::size_t table = header + 24 + optional_size;
    for (int directory = 0; directory < 2; ++directory) {
        const std::uint32_t rva = u32(data, size, directories + 8 * directory);
        if (rva == 0) continue;
        for (std::size_t s = 0; s < sections; ++s) {
            const std::size_t entry = table + 40 * s;
            const std::uint32_t start = u32(data, size, entry + 12);
            const std::uint32_t raw_size = u32(data, size, entry + 16);
            const std::uint32_t raw = u32(data, size, entry + 20);
            if (rva < start || rva - start >= raw_size) continue;
            const std::size_t end = std::min<std::size_t>(size, std::size_t{raw} + raw_size);
            for (std::size_t at = raw; at < end; at += page) sum += data[at];
            break;
        }
    }
    return sum;
}

}  // namespace

std::uint64_t touch_floor(const std::vector<std::string>& files) {
    std::uint64_t sum = 0;
    for (const auto& path : files) {
#ifdef _WIN32
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view != nullptr) {
            sum += touch_image(static_cast<const std::uint8_t*>(view), GetFileSize(file, nullptr));
            UnmapViewOfFile(view);
        }
        if (mapping) CloseHandle(mapping);
        CloseHandle(file);
#else
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) continue;
        struct stat facts {};
        if (fstat(fd, &facts) == 0 && facts.st_size > 0) {
            const auto size = static_cast<std::size_t>(facts.st_size);
            void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (view != MAP_FAILED) {
                sum += touch_image(static_cast<const std::uint8_t*>(view), size);
                munmap(view, size);
            }
        }
        close(fd);
#endif
    }
    return sum;
}

}  // namespace korvex::bench
