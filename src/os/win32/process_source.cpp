// The capture's platform source on Windows: Tool Help for the process and
// module lists, the file search, short paths, time conversion and the
// version library for the file facts.
#include "os/process_source.h"

#include <windows.h>

#include <tlhelp32.h>
#include <winver.h>

#include <cstddef>
#include <cstring>

#include "os/win32/toolhelp_retry.h"

namespace korvex::os {

namespace {

// The capture's ProcessRecord is the 8-bit PROCESSENTRY32 byte for byte, so
// entries pass through unchanged, dwSize included.
static_assert(sizeof(PROCESSENTRY32) == sizeof(ProcessRecord));
static_assert(offsetof(PROCESSENTRY32, th32ProcessID) == offsetof(ProcessRecord, th32ProcessID));
static_assert(offsetof(PROCESSENTRY32, pcPriClassBase) == offsetof(ProcessRecord, pcPriClassBase));
static_assert(offsetof(PROCESSENTRY32, szExeFile) == offsetof(ProcessRecord, szExeFile));
static_assert(sizeof(MODULEENTRY32) == 548);
static_assert(sizeof(ModuleEntry::name) == sizeof(MODULEENTRY32::szModule));
static_assert(sizeof(ModuleEntry::path) == sizeof(MODULEENTRY32::szExePath));
static_assert(sizeof(FoundFile::alternate_name) == sizeof(WIN32_FIND_DATAA::cAlternateFileName));

// At most this much of a version resource is read: enough for the fixed
// root block that holds the file version.
constexpr DWORD version_buffer_size = 200;

HANDLE as_handle(ListHandle list) { return reinterpret_cast<HANDLE>(list); }

template <BOOL(WINAPI* step)(HANDLE, LPPROCESSENTRY32)>
bool process_step(ListHandle list, ProcessRecord& entry) {
    PROCESSENTRY32 platform;
    std::memcpy(&platform, &entry, sizeof platform);
    const BOOL more = step(as_handle(list), &platform);
    std::memcpy(&entry, &platform, sizeof entry);
    return more != FALSE;
}

template <BOOL(WINAPI* step)(HANDLE, LPMODULEENTRY32)>
bool module_step(ListHandle list, ModuleEntry& entry) {
    MODULEENTRY32 platform{};
    platform.dwSize = sizeof platform;
    if (!step(as_handle(list), &platform)) return false;
    entry.global_usage = platform.GlblcntUsage;
    entry.process_usage = platform.ProccntUsage;
    std::memcpy(entry.name, platform.szModule, sizeof entry.name);
    std::memcpy(entry.path, platform.szExePath, sizeof entry.path);
    entry.name[sizeof entry.name - 1] = '\0';
    entry.path[sizeof entry.path - 1] = '\0';
    return true;
}

ListHandle as_list(HANDLE snapshot) {
    return snapshot == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<ListHandle>(snapshot);
}

class Win32ProcessSource final : public ProcessSource {
public:
    constexpr Win32ProcessSource() = default;

    ListHandle open_processes() noexcept override {
        return as_list(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    }
    bool first_process(ListHandle list, ProcessRecord& entry) noexcept override {
        return process_step<Process32First>(list, entry);
    }
    bool next_process(ListHandle list, ProcessRecord& entry) noexcept override {
        return process_step<Process32Next>(list, entry);
    }

    ListHandle open_modules(std::uint32_t process_id) noexcept override {
        // Tool Help reads id 0 as "the calling process", so the system's idle
        // process (listed with id 0) would be credited with the host's
        // modules. It loads none; its list cannot be had.
        if (process_id == 0) return 0;
        return as_list(retry_while_module_list_changes(
            [process_id] { return CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id); }));
    }
    bool first_module(ListHandle list, ModuleEntry& entry) noexcept override {
        return module_step<Module32First>(list, entry);
    }
    bool next_module(ListHandle list, ModuleEntry& entry) noexcept override {
        return module_step<Module32Next>(list, entry);
    }

    void close_list(ListHandle list) noexcept override { CloseHandle(as_handle(list)); }

    bool find_file(const char* path, FoundFile& found) noexcept override {
        WIN32_FIND_DATAA data;
        const HANDLE search = FindFirstFileA(path, &data);
        if (search == INVALID_HANDLE_VALUE) return false;
        FindClose(search);
        found.size_low = data.nFileSizeLow;
        found.size_high = data.nFileSizeHigh;
        found.last_write = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
        std::memcpy(found.alternate_name, data.cAlternateFileName, sizeof found.alternate_name);
        found.alternate_name[sizeof found.alternate_name - 1] = '\0';
        return true;
    }

    std::uint32_t short_path(const char* path, char* buffer, std::uint32_t size) noexcept override {
        return GetShortPathNameA(path, buffer, size);
    }

    bool local_time(std::uint64_t file_time, CalendarTime& local) noexcept override {
        const FILETIME utc{static_cast<DWORD>(file_time), static_cast<DWORD>(file_time >> 32)};
        FILETIME local_file_time;
        SYSTEMTIME calendar;
        if (!FileTimeToLocalFileTime(&utc, &local_file_time) ||
            !FileTimeToSystemTime(&local_file_time, &calendar))
            return false;
        local.year = calendar.wYear;
        local.month = calendar.wMonth;
        local.day = calendar.wDay;
        local.hour = calendar.wHour;
        local.minute = calendar.wMinute;
        return true;
    }

    VersionLookup file_version(const char* path, FileVersion& version) noexcept override {
        alignas(4) char data[version_buffer_size];
        if (!GetFileVersionInfoA(path, 0, sizeof data, data)) return VersionLookup::no_version_data;
        void* block = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data, "\\", &block, &length) || block == nullptr ||
            length < sizeof(VS_FIXEDFILEINFO))
            return VersionLookup::no_fixed_block;
        // A fixed block that would reach past the bytes read is not taken.
        const auto start = reinterpret_cast<std::uintptr_t>(data);
        const auto at = reinterpret_cast<std::uintptr_t>(block);
        if (at < start || at - start > sizeof data - sizeof(VS_FIXEDFILEINFO))
            return VersionLookup::no_fixed_block;
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, block, sizeof fixed);
        version.most_significant = fixed.dwFileVersionMS;
        version.least_significant = fixed.dwFileVersionLS;
        return VersionLookup::found;
    }
};

constinit Win32ProcessSource g_platform{};

}  // namespace

ProcessSource& platform_process_source() noexcept { return g_platform; }

// ---- TerminateProc and GetVersionEx32

std::int32_t terminate_process(std::uint32_t process_id) noexcept {
    constexpr DWORD all_process_access = 0x1F0FFF;
    HANDLE process = OpenProcess(all_process_access, TRUE, process_id);
    if (process == nullptr) return 0;
    const BOOL accepted = TerminateProcess(process, 0);
    CloseHandle(process);
    return accepted;
}

std::int32_t get_version_record(void* info) noexcept {
    return GetVersionExA(static_cast<OSVERSIONINFOA*>(info));
}

}  // namespace korvex::os
