// The capture's platform source on Windows: Tool Help for the process and
// module lists, the file search, short paths, time conversion and the
// version library for the file facts.
#include "os/process_source.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winver.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "os/win32/toolhelp_retry.h"

namespace korvex::os {

namespace {

// The capture's ProcessRecord has the fields of the 8-bit PROCESSENTRY32 of
// 32-bit Windows, where the two are the same 296 bytes. In a 64-bit build the
// platform's entry is wider (its heap id is pointer-sized, which moves the
// fields after it), so entries are copied field by field in both builds and
// the records come out alike. The heap id has been 0 since Windows 2000; a
// wider one keeps its low half.
static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 4 ? 296 : 304));
static_assert(sizeof(PROCESSENTRY32::szExeFile) == sizeof(ProcessRecord::szExeFile));
static_assert(sizeof(MODULEENTRY32) == (sizeof(void*) == 4 ? 548 : 568));
static_assert(sizeof(ModuleEntry::name) == sizeof(MODULEENTRY32::szModule));
static_assert(sizeof(ModuleEntry::path) == sizeof(MODULEENTRY32::szExePath));
static_assert(sizeof(FoundFile::alternate_name) == sizeof(WIN32_FIND_DATAA::cAlternateFileName));

// The module lists a capture asks for. A 64-bit process is also given the
// 32-bit modules of a 32-bit process (without TH32CS_SNAPMODULE32 Tool Help
// refuses their list); a 32-bit process sees 32-bit modules only, and asks
// as it always has.
constexpr DWORD module_list_kinds =
    sizeof(void*) == 8 ? TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32 : TH32CS_SNAPMODULE;

// At most this much of a version resource is read: enough for the fixed
// root block that holds the file version.
constexpr DWORD version_buffer_size = 200;

HANDLE as_handle(ListHandle list) { return reinterpret_cast<HANDLE>(list); }

template <BOOL(WINAPI* step)(HANDLE, LPPROCESSENTRY32)>
bool process_step(ListHandle list, ProcessRecord& entry) {
    PROCESSENTRY32 platform{};
    platform.dwSize = sizeof platform;
    if (!step(as_handle(list), &platform)) return false;
    // dwSize stays the record's own, as the caller set it.
    entry.cntUsage = platform.cntUsage;
    entry.th32ProcessID = platform.th32ProcessID;
    entry.th32DefaultHeapID = static_cast<std::uint32_t>(platform.th32DefaultHeapID);
    entry.th32ModuleID = platform.th32ModuleID;
    entry.cntThreads = platform.cntThreads;
    entry.th32ParentProcessID = platform.th32ParentProcessID;
    entry.pcPriClassBase = platform.pcPriClassBase;
    entry.dwFlags = platform.dwFlags;
    std::memcpy(entry.szExeFile, platform.szExeFile, sizeof entry.szExeFile);
    return true;
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

#ifdef _WIN64
// ---- The 32-bit modules of a 32-bit process, where Tool Help gives none
//
// Windows' Tool Help lists them for TH32CS_SNAPMODULE32; Wine's (8.0) does
// not implement that kind and refuses the list. The process's loader list
// is then read through the process-status calls (kernel32's K32 functions),
// which reach a 32-bit process's modules from a 64-bit one. Such a list is
// told from a Tool Help handle by its lowest bit, which kernel handles never
// have set. Module usage counts have no meaning today (Tool Help itself
// answers 0xFFFF); these entries say 0xFFFF too.

struct Wow64ModuleList {
    HANDLE process;
    DWORD count;
    DWORD next;
    HMODULE modules[1];  // `count` of them
};

constexpr ListHandle wow64_list_tag = 1;
constexpr std::uint32_t unknown_usage = 0xFFFF;

bool is_wow64_list(ListHandle list) { return (list & wow64_list_tag) != 0; }

Wow64ModuleList* as_wow64_list(ListHandle list) {
    return reinterpret_cast<Wow64ModuleList*>(list & ~wow64_list_tag);
}

ListHandle open_wow64_modules(std::uint32_t process_id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
    if (process == nullptr) return 0;
    BOOL wow64 = FALSE;
    DWORD needed = 0;
    Wow64ModuleList* list = nullptr;
    if (IsWow64Process(process, &wow64) && wow64 &&
        K32EnumProcessModulesEx(process, nullptr, 0, &needed, LIST_MODULES_32BIT) && needed != 0) {
        // Room for a few modules loaded in between; a list is a moment's view.
        const DWORD room = needed / DWORD{sizeof(HMODULE)} + 16;
        const DWORD room_bytes = room * DWORD{sizeof(HMODULE)};
        list = static_cast<Wow64ModuleList*>(
            std::malloc(offsetof(Wow64ModuleList, modules) + room_bytes));
        if (list != nullptr && K32EnumProcessModulesEx(process, list->modules, room_bytes, &needed,
                                                       LIST_MODULES_32BIT)) {
            list->process = process;
            list->count = std::min(room, needed / DWORD{sizeof(HMODULE)});
            list->next = 0;
            return reinterpret_cast<ListHandle>(list) | wow64_list_tag;
        }
    }
    std::free(list);
    CloseHandle(process);
    return 0;
}

// The next module whose names can still be read (one unloaded since the
// list was made is passed over).
bool wow64_module_step(ListHandle list, ModuleEntry& entry) {
    Wow64ModuleList& modules = *as_wow64_list(list);
    while (modules.next < modules.count) {
        const HMODULE module = modules.modules[modules.next++];
        ModuleEntry found;
        found.global_usage = unknown_usage;
        found.process_usage = unknown_usage;
        if (K32GetModuleBaseNameA(modules.process, module, found.name, sizeof found.name) == 0 ||
            K32GetModuleFileNameExA(modules.process, module, found.path, sizeof found.path) == 0)
            continue;
        found.name[sizeof found.name - 1] = '\0';
        found.path[sizeof found.path - 1] = '\0';
        entry = found;
        return true;
    }
    return false;
}

void close_wow64_list(ListHandle list) {
    Wow64ModuleList* modules = as_wow64_list(list);
    CloseHandle(modules->process);
    std::free(modules);
}
#endif

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
        const ListHandle list = as_list(retry_while_module_list_changes(
            [process_id] { return CreateToolhelp32Snapshot(module_list_kinds, process_id); }));
#ifdef _WIN64
        if (list == 0) return open_wow64_modules(process_id);
#endif
        return list;
    }
    bool first_module(ListHandle list, ModuleEntry& entry) noexcept override {
#ifdef _WIN64
        if (is_wow64_list(list)) {
            as_wow64_list(list)->next = 0;
            return wow64_module_step(list, entry);
        }
#endif
        return module_step<Module32First>(list, entry);
    }
    bool next_module(ListHandle list, ModuleEntry& entry) noexcept override {
#ifdef _WIN64
        if (is_wow64_list(list)) return wow64_module_step(list, entry);
#endif
        return module_step<Module32Next>(list, entry);
    }

    void close_list(ListHandle list) noexcept override {
#ifdef _WIN64
        if (is_wow64_list(list)) return close_wow64_list(list);
#endif
        CloseHandle(as_handle(list));
    }

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

    const SystemFolders* folders_seen_otherwise(std::uint32_t process_id) noexcept override {
        if (sizeof(void*) == 4) return nullptr;
        folders_ = system_folders();
        if (folders_.wow64[0] == '\0') return nullptr;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
        if (process == nullptr) return nullptr;
        BOOL wow64 = FALSE;
        const bool seen_otherwise = IsWow64Process(process, &wow64) && wow64;
        CloseHandle(process);
        return seen_otherwise ? &folders_ : nullptr;
    }

private:
    SystemFolders folders_{};
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
