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

MapResult map_file_readonly(const char* path, MappedFile& out) noexcept {
    out = MappedFile{};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return MapResult::open_failed;

    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        CloseHandle(file);
        return MapResult::mapping_failed;
    }

    // The mapping already succeeded, so the size is known to be nonzero; a
    // 32-bit process cannot map 4 GiB, and MapViewOfFile fails before that.
    LARGE_INTEGER size{};
    const void* view = GetFileSizeEx(file, &size) && size.HighPart == 0
                           ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)
                           : nullptr;
    if (view == nullptr) {
        CloseHandle(mapping);
        CloseHandle(file);
        return MapResult::view_failed;
    }

    out.file = reinterpret_cast<std::intptr_t>(file);
    out.mapping = reinterpret_cast<std::intptr_t>(mapping);
    out.view = static_cast<const std::uint8_t*>(view);
    out.size = static_cast<std::size_t>(size.LowPart);
    return MapResult::mapped;
}

// The view is the file itself: there is never a block to fill.
void fill_blocks(const MappedFile&, std::size_t, std::size_t) noexcept {}

void release_mapped_file(MappedFile& held) noexcept {
    if (held.view != nullptr) UnmapViewOfFile(held.view);
    if (held.mapping != 0) CloseHandle(reinterpret_cast<HANDLE>(held.mapping));
    if (held.file != 0) CloseHandle(reinterpret_cast<HANDLE>(held.file));
    held = MappedFile{};
}

}  // namespace korvex::os
