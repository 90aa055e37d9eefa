#include "os/files.h"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace korvex::os {

namespace {

// Room for a work-file path made whole (the current folder's path before a
// relative one) and the \\?\UNC\ prefix.
constexpr DWORD long_path_room = 2048;

}  // namespace

void delete_file(const char* path) noexcept {
    if (std::strlen(path) < MAX_PATH) {
        DeleteFileA(path);
        return;
    }
    // The ANSI call stops at MAX_PATH - 1 characters, while a work-file path
    // may have up to 515 and its file was written all the same. The wide
    // call reaches any length through the \\?\ prefix, which takes only a
    // whole path with backslashes: the path is converted from the code page
    // the ANSI calls use and made whole first.
    wchar_t wide[long_path_room];
    wchar_t whole[long_path_room];
    const UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    if (MultiByteToWideChar(code_page, 0, path, -1, wide, long_path_room) == 0) return;
    const DWORD length = GetFullPathNameW(wide, long_path_room, whole, nullptr);
    if (length == 0 || length >= long_path_room - 8) return;
    const bool network = whole[0] == L'\\' && whole[1] == L'\\';
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    const wchar_t* rest = network ? whole + 1 : whole;
    wchar_t prefixed[long_path_room];
    const std::size_t prefix_length = std::wcslen(prefix);
    std::wmemcpy(prefixed, prefix, prefix_length);
    std::wmemcpy(prefixed + prefix_length, rest, std::wcslen(rest) + 1);
    DeleteFileW(prefixed);
}

std::FILE* open_stream_without_waiting(const char* path, const char* mode) noexcept {
    return std::fopen(path, mode);
}

bool stream_length_is(std::FILE* stream, std::uint64_t length) noexcept {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    LARGE_INTEGER size{};
    return file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK &&
           GetFileSizeEx(file, &size) && static_cast<std::uint64_t>(size.QuadPart) == length;
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
