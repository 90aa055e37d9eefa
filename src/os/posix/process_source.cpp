// The capture's platform source on Linux: processes from /proc, modules from
// the files mapped into each process, file facts from stat. Linux has no 8.3
// names and no version resources; the capture's upper-cased paths are looked
// up regardless of case, as Windows would.
#include "os/process_source.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "fixed_text.h"
#include "os/posix/case_insensitive_path.h"
#include "os/posix/proc_readers.h"

namespace korvex::os {

namespace {

// Seconds from 1 January 1601 (file times) to 1 January 1970 (Unix times).
constexpr std::int64_t seconds_1601_to_1970 = 11644473600;
constexpr std::int64_t file_time_steps_per_second = 10000000;

struct OpenList {
    DIR* processes = nullptr;  // set for a process list
    std::vector<posix::MappedModuleFile> modules;
    std::size_t next_module = 0;
};

OpenList* as_list(ListHandle list) { return reinterpret_cast<OpenList*>(list); }

std::uint64_t file_time_of(const struct timespec& when) {
    if (when.tv_sec < -seconds_1601_to_1970) return 0;
    return static_cast<std::uint64_t>(when.tv_sec + seconds_1601_to_1970) *
               file_time_steps_per_second +
           static_cast<std::uint64_t>(when.tv_nsec) / 100;
}

class PosixProcessSource final : public ProcessSource {
public:
    constexpr PosixProcessSource() = default;

    ListHandle open_processes() noexcept override {
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) return 0;
        auto* list = new (std::nothrow) OpenList;
        if (list == nullptr) {
            ::closedir(proc);
            return 0;
        }
        list->processes = proc;
        return reinterpret_cast<ListHandle>(list);
    }

    bool first_process(ListHandle list, ProcessRecord& entry) noexcept override {
        ::rewinddir(as_list(list)->processes);
        return next_process(list, entry);
    }

    bool next_process(ListHandle list, ProcessRecord& entry) noexcept override {
        // A process may end between the listing and the read; it is skipped.
        while (const dirent* name = ::readdir(as_list(list)->processes)) {
            std::uint32_t process_id = 0;
            if (posix::process_id_from_name(name->d_name, process_id) &&
                posix::read_process_entry(process_id, entry))
                return true;
        }
        return false;
    }

    ListHandle open_modules(std::uint32_t process_id) noexcept override {
        auto* list = new (std::nothrow) OpenList;
        if (list == nullptr) return 0;
        if (!posix::read_mapped_module_files(process_id, list->modules)) {
            delete list;
            return 0;
        }
        return reinterpret_cast<ListHandle>(list);
    }

    bool first_module(ListHandle list, ModuleEntry& entry) noexcept override {
        as_list(list)->next_module = 0;
        return next_module(list, entry);
    }

    bool next_module(ListHandle list, ModuleEntry& entry) noexcept override {
        OpenList& open = *as_list(list);
        if (open.next_module >= open.modules.size()) return false;
        const posix::MappedModuleFile& file = open.modules[open.next_module++];
        const std::size_t slash = file.path.rfind('/');
        entry = ModuleEntry{};
        entry.global_usage = file.mappings;
        entry.process_usage = file.mappings;
        copy_text(entry.path, file.path.data(), file.path.size());
        copy_text(entry.name, file.path.data() + slash + 1, file.path.size() - slash - 1);
        return true;
    }

    void close_list(ListHandle list) noexcept override {
        OpenList* open = as_list(list);
        if (open->processes != nullptr) ::closedir(open->processes);
        delete open;
    }

    bool find_file(const char* path, FoundFile& found) noexcept override {
        std::string real;
        struct stat facts {};
        if (!posix::resolve_case_insensitive(path, real) || ::stat(real.c_str(), &facts) != 0)
            return false;
        const auto size = static_cast<std::uint64_t>(facts.st_size);
        found = FoundFile{};
        found.size_low = static_cast<std::uint32_t>(size);
        found.size_high = static_cast<std::uint32_t>(size >> 32);
        found.last_write = file_time_of(facts.st_mtim);
        return true;
    }

    // With no 8.3 names, the short form of a path that exists is the path as
    // it was given, as Windows answers for names that have no short form.
    std::uint32_t short_path(const char* path, char* buffer, std::uint32_t size) noexcept override {
        std::string real;
        if (!posix::resolve_case_insensitive(path, real)) return 0;
        const std::size_t length = std::strlen(path);
        if (length >= size) return static_cast<std::uint32_t>(length + 1);
        std::memcpy(buffer, path, length + 1);
        return static_cast<std::uint32_t>(length);
    }

    bool local_time(std::uint64_t file_time, CalendarTime& local) noexcept override {
        // Windows refuses file times with the top bit set; so does this.
        if (file_time >= (std::uint64_t{1} << 63)) return false;
        const std::time_t seconds = static_cast<std::time_t>(
            static_cast<std::int64_t>(file_time / file_time_steps_per_second) -
            seconds_1601_to_1970);
        std::tm calendar{};
        if (::localtime_r(&seconds, &calendar) == nullptr) return false;
        local.year = static_cast<std::uint16_t>(calendar.tm_year + 1900);
        local.month = static_cast<std::uint16_t>(calendar.tm_mon + 1);
        local.day = static_cast<std::uint16_t>(calendar.tm_mday);
        local.hour = static_cast<std::uint16_t>(calendar.tm_hour);
        local.minute = static_cast<std::uint16_t>(calendar.tm_min);
        return true;
    }

    VersionLookup file_version(const char* /*path*/, FileVersion& /*version*/) noexcept override {
        return VersionLookup::no_version_data;
    }
};

constinit PosixProcessSource g_platform{};

}  // namespace

ProcessSource& platform_process_source() noexcept { return g_platform; }

// ---- TerminateProc and GetVersionEx32

std::int32_t terminate_process(std::uint32_t process_id) noexcept {
    // Ids 0 and above INT_MAX would address process groups or everything.
    if (process_id == 0 || process_id > 0x7FFFFFFFu) return 0;
    return ::kill(static_cast<pid_t>(process_id), SIGKILL) == 0 ? 1 : 0;
}

// Linux has no version record: fill one from the kernel's release numbers,
// with the Windows rule that the caller's size field must be 148.
std::int32_t get_version_record(void* info) noexcept {
    auto* record = static_cast<KorvexOsVersionInfo*>(info);
    if (record->dwOSVersionInfoSize != sizeof(KorvexOsVersionInfo)) return 0;
    struct utsname names {};
    if (::uname(&names) != 0) return 0;
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
    record->dwMajorVersion = major;
    record->dwMinorVersion = minor;
    record->dwBuildNumber = build;
    record->dwPlatformId = 0;
    std::snprintf(record->szCSDVersion, sizeof record->szCSDVersion, "%s %s", names.sysname,
                  names.release);
    return 1;
}

// Linux has no second system folder.
SystemFolders system_folders() noexcept { return {}; }

}  // namespace korvex::os
