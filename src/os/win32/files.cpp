// rand_s is declared only on request, before the runtime's first header.
#define _CRT_RAND_S

#include "os/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace korvex::os {

namespace {

// Room for a work-file path made whole (the current folder's path before a
// relative one) and the \\?\UNC\ prefix.
constexpr DWORD long_path_room = 2048;

// The wide spelling of `path` that reaches any length: the ANSI calls stop
// at MAX_PATH - 1 characters, while a work-file path may have up to 515.
// The \\?\ prefix takes only a whole path with backslashes: the path is
// converted from the code page the ANSI calls use and made whole first.
bool long_path_wide(const char* path, wchar_t (&prefixed)[long_path_room]) {
    wchar_t wide[long_path_room];
    wchar_t whole[long_path_room];
    const UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    if (MultiByteToWideChar(code_page, 0, path, -1, wide, long_path_room) == 0) return false;
    const DWORD length = GetFullPathNameW(wide, long_path_room, whole, nullptr);
    if (length == 0 || length >= long_path_room - 8) return false;
    const bool network = whole[0] == L'\\' && whole[1] == L'\\';
    const wchar_t* prefix = network ? L"\\\\?\\UNC" : L"\\\\?\\";
    const wchar_t* rest = network ? whole + 1 : whole;
    const std::size_t prefix_length = std::wcslen(prefix);
    std::wmemcpy(prefixed, prefix, prefix_length);
    std::wmemcpy(prefixed + prefix_length, rest, std::wcslen(rest) + 1);
    return true;
}

bool is_long(const char* path) { return std::strlen(path) >= MAX_PATH; }

// 64 bits no other user can foresee: the runtime's rand_s draws on the
// system's cryptographic generator. Where it fails the clock, the ids and
// an address are mixed instead; a name that is taken is passed over either
// way, so the worst a squatter can do is cost a retry.
std::uint64_t random_bits() {
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) == 0 && rand_s(&low) == 0) return std::uint64_t{high} << 32 | low;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::uint64_t mixed = static_cast<std::uint64_t>(now.QuadPart) ^
                          std::uint64_t{GetCurrentProcessId()} << 32 ^ GetCurrentThreadId() ^
                          reinterpret_cast<std::uintptr_t>(&now);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    return mixed ^ (mixed >> 31);
}

}  // namespace

void delete_file(const char* path) noexcept {
    if (!is_long(path)) {
        DeleteFileA(path);
        return;
    }
    wchar_t prefixed[long_path_room];
    if (long_path_wide(path, prefixed)) DeleteFileW(prefixed);
}

std::FILE* create_stream_beside(const char* path, char (&temporary)[temporary_name_room]) noexcept {
    for (int attempt = 0; attempt < 64; ++attempt) {
        const int length = std::snprintf(temporary, sizeof temporary, "%s.%016llx.tmp", path,
                                         static_cast<unsigned long long>(random_bits()));
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary) return nullptr;
        // CREATE_NEW fails on any name that stands, a link included.
        HANDLE file = INVALID_HANDLE_VALUE;
        wchar_t prefixed[long_path_room];
        if (!is_long(temporary))
            file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        else if (long_path_wide(temporary, prefixed))
            file = CreateFileW(prefixed, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
            return nullptr;
        }
        const int fd =
            _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
        std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (stream != nullptr) return stream;
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(file);
        delete_file(temporary);
        return nullptr;
    }
    return nullptr;
}

bool move_into_place(const char* temporary, const char* path) noexcept {
    // One rename: MOVEFILE_REPLACE_EXISTING swaps the name over what stands
    // there (a link is replaced as a name, its target untouched). No
    // MOVEFILE_COPY_ALLOWED: a copy would write through the target.
    if (!is_long(temporary) && !is_long(path))
        return MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING) != FALSE;
    wchar_t from[long_path_room];
    wchar_t to[long_path_room];
    return long_path_wide(temporary, from) && long_path_wide(path, to) &&
           MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
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

// The largest file the copy takes. In a 32-bit process a view of more than
// half the address space could not be had, and the contract's sizes stop
// below 4 GiB; a 64-bit process reserves address space for any length, and
// commits one flag byte per block of it at once (256 KiB per GiB).
constexpr std::uint64_t largest_held_file =
    sizeof(void*) == 8 ? UINT64_MAX : std::uint64_t{SIZE_MAX >> 1};

// One ReadFile moves at most this much (its length is 32 bits).
constexpr std::size_t longest_read = std::size_t{1} << 30;

// Commits the memory of [at, to) of the view; when the whole run cannot have
// it, one block after another as far as the system allows. Answers where the
// memory made ready ends.
std::size_t commit_run(std::uint8_t* view, std::size_t at, std::size_t to) {
    if (VirtualAlloc(view + at, to - at, MEM_COMMIT, PAGE_READWRITE) != nullptr) return to;
    while (at < to) {
        const std::size_t next = ((at >> fill_block_shift) + 1) << fill_block_shift;
        const std::size_t end = next < to ? next : to;
        if (VirtualAlloc(view + at, end - at, MEM_COMMIT, PAGE_READWRITE) == nullptr) break;
        at = end;
    }
    return at;
}

}  // namespace

// The share mode keeps Windows writers out while the file is held, but under
// Wine it binds no Linux process, which may cut the file short: a view of the
// file itself would then fault inside the host. The view is private memory
// instead, as natively, filled a run of blocks at a time as reads reach it.
// Address space is reserved for the whole file, and memory committed only
// for the blocks a read reaches: the system's commit limit is charged with
// what was read, not with the file's length.
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
    // As a view of the file could not: in a 32-bit process 4 GiB or more, or
    // more than half the address space.
    const auto length64 = static_cast<std::uint64_t>(size.QuadPart);
    const auto length = static_cast<std::size_t>(length64);
    void* area = nullptr;
    if (length64 <= largest_held_file && (sizeof(void*) == 8 || size.HighPart == 0)) {
        area = VirtualAlloc(nullptr, view_bytes(length) + block_count(length), MEM_RESERVE,
                            PAGE_READWRITE);
    }
    // The flags are read before any block is filled: their memory is
    // committed now (fresh, so every flag is block_unfilled).
    auto* base = static_cast<std::uint8_t*>(area);
    if (area != nullptr && VirtualAlloc(base + view_bytes(length), block_count(length), MEM_COMMIT,
                                        PAGE_READWRITE) == nullptr) {
        VirtualFree(area, 0, MEM_RELEASE);
        area = nullptr;
    }
    if (area == nullptr) {
        CloseHandle(file);
        return MapResult::view_failed;
    }
    out.file = reinterpret_cast<std::intptr_t>(file);
    out.view = base;
    out.size = length;
    out.filled = base + view_bytes(length);
    return MapResult::mapped;
}

void fill_blocks(const MappedFile& held, std::size_t first, std::size_t last) noexcept {
    HANDLE file = reinterpret_cast<HANDLE>(held.file);
    fill_runs(held, first, last, [file](std::uint8_t* view, std::size_t at, std::size_t to) {
        RunFill got{commit_run(view, at, to), at};
        while (got.read < got.usable) {
            const std::size_t left = got.usable - got.read;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(got.read);
            where.OffsetHigh = static_cast<DWORD>(std::uint64_t{got.read} >> 32);
            DWORD read = 0;
            const auto chunk = static_cast<DWORD>(left < longest_read ? left : longest_read);
            if (!ReadFile(file, view + got.read, chunk, &read, &where) || read == 0) break;
            got.read += read;
        }
        return got;
    });
}

void release_mapped_file(MappedFile& held) noexcept {
    if (held.view != nullptr) VirtualFree(const_cast<std::uint8_t*>(held.view), 0, MEM_RELEASE);
    if (held.file != 0) CloseHandle(reinterpret_cast<HANDLE>(held.file));
    held = MappedFile{};
}

void release_copy_keep_file(MappedFile& held) noexcept {
    if (held.view != nullptr) VirtualFree(const_cast<std::uint8_t*>(held.view), 0, MEM_RELEASE);
    held = MappedFile{};
}

}  // namespace korvex::os
