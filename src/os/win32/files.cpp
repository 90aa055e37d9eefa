#include "os/files.h"

#include <io.h>
#include <windows.h>

#include <cstdint>
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

namespace {

// The fill flags follow the view's last whole block.
std::size_t view_bytes(std::size_t size) { return block_count(size) << fill_block_shift; }

}  // namespace

// The share mode keeps Windows writers out while the file is held, but under
// Wine it binds no Linux process, which may cut the file short: a view of the
// file itself would then fault inside the host. The view is private memory
// instead, as natively, filled a run of blocks at a time as reads reach it.
// It is committed whole, so that every byte of it can always be read; pages
// that no read reaches are never touched and take no memory.
MapResult map_file_readonly(const char* path, MappedFile& out) noexcept {
    out = MappedFile{};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return MapResult::open_failed;

    // The failures CreateFileMappingA had: an empty file, a pipe or a device.
    LARGE_INTEGER size{};
    const bool sized = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != FALSE;
    if (!sized || size.QuadPart <= 0) {
        CloseHandle(file);
        return MapResult::mapping_failed;
    }
    // As a view of the file could not: 4 GiB or more, or (in a 32-bit
    // process) more than half the address space.
    const auto length = static_cast<std::size_t>(size.QuadPart);
    void* area = size.HighPart == 0 && length <= (SIZE_MAX >> 1)
                     ? VirtualAlloc(nullptr, view_bytes(length) + block_count(length),
                                    MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)
                     : nullptr;
    if (area == nullptr) {
        CloseHandle(file);
        return MapResult::view_failed;
    }
    auto* base = static_cast<std::uint8_t*>(area);
    out.file = reinterpret_cast<std::intptr_t>(file);
    out.view = base;
    out.size = length;
    out.filled = base + view_bytes(length);  // committed fresh: every flag 0
    return MapResult::mapped;
}

void fill_blocks(const MappedFile& held, std::size_t first, std::size_t last) noexcept {
    HANDLE file = reinterpret_cast<HANDLE>(held.file);
    fill_runs(held, first, last, [file](std::uint8_t* view, std::size_t at, std::size_t to) {
        while (at < to) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            DWORD got = 0;
            if (!ReadFile(file, view + at, static_cast<DWORD>(to - at), &got, &where) || got == 0)
                break;
            at += got;
        }
        return at;
    });
}

void release_mapped_file(MappedFile& held) noexcept {
    if (held.view != nullptr) VirtualFree(const_cast<std::uint8_t*>(held.view), 0, MEM_RELEASE);
    if (held.file != 0) CloseHandle(reinterpret_cast<HANDLE>(held.file));
    held = MappedFile{};
}

}  // namespace korvex::os
