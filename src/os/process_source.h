// What the snapshot capture needs of the platform: the list of running
// processes, the module list of one process, and a few facts about a file on
// disk; and the platform's process termination and version record. The platform's own source (Tool
// Help and the file APIs on Windows, /proc and stat on Linux) is used unless a test installs
// another one.
#pragma once

#include <cstdint>

#include "korvex32.h"
#include "os/wow64_paths.h"

namespace korvex::os {

// An open list of processes or of one process's modules; 0 stands for "none".
using ListHandle = std::intptr_t;

// One module of a process, as the module list gives it.
struct ModuleEntry {
    std::uint32_t global_usage = 0;   // how often the module is in use across the system
    std::uint32_t process_usage = 0;  // how often it is in use within its process
    char name[256] = {};              // the module's name, NUL-terminated
    char path[260] = {};              // the full path of its file, NUL-terminated
};

// What a search for one file reports.
struct FoundFile {
    std::uint32_t size_low = 0;
    std::uint32_t size_high = 0;
    // Last write, in 100-nanosecond steps since 1 January 1601, UTC.
    std::uint64_t last_write = 0;
    // The 8.3 name of the file when its own name is not one; empty otherwise.
    char alternate_name[14] = {};
};

// A local date and time of day, as the platform's calendar gives it.
struct CalendarTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;  // 1 to 12
    std::uint16_t day = 0;    // 1 to 31
    std::uint16_t hour = 0;   // 0 to 23
    std::uint16_t minute = 0;
};

// The file version of a version resource's fixed block, as two 32-bit halves.
struct FileVersion {
    std::uint32_t most_significant = 0;
    std::uint32_t least_significant = 0;
};

enum class VersionLookup : std::int32_t {
    found = 0,
    no_fixed_block = 1,    // version data, but without the fixed root block
    no_version_data = -1,  // no readable version resource at all
};

// Each call answers for itself; a list stays valid from its open_ to its
// close_list, and every list opened is closed by the caller.
class ProcessSource {
public:
    // A frozen list of the running processes; 0 when none can be made.
    virtual ListHandle open_processes() noexcept = 0;
    // Fill `entry` with the first or the next process of the list; false when
    // there is none. The caller sets entry.dwSize (296) before the first call.
    virtual bool first_process(ListHandle list, ProcessRecord& entry) noexcept = 0;
    virtual bool next_process(ListHandle list, ProcessRecord& entry) noexcept = 0;

    // A frozen list of the modules of one process; 0 when none can be made
    // (the process has ended, or the platform refuses) and for process id 0,
    // the idle process, which loads no modules.
    virtual ListHandle open_modules(std::uint32_t process_id) noexcept = 0;
    virtual bool first_module(ListHandle list, ModuleEntry& entry) noexcept = 0;
    virtual bool next_module(ListHandle list, ModuleEntry& entry) noexcept = 0;

    // Releases a list made by open_processes or open_modules.
    virtual void close_list(ListHandle list) noexcept = 0;

    // Searches for the file named by `path`; false when it is not there.
    virtual bool find_file(const char* path, FoundFile& found) noexcept = 0;
    // Writes the short (8.3) form of `path` into `buffer` of `size` bytes.
    // Answers its length without the terminator; 0 on failure; a number of
    // at least `size` (the room needed) when it does not fit, leaving the
    // buffer's contents unspecified.
    virtual std::uint32_t short_path(const char* path, char* buffer,
                                     std::uint32_t size) noexcept = 0;
    // Converts a UTC file time to the local calendar; false when it cannot.
    virtual bool local_time(std::uint64_t file_time, CalendarTime& local) noexcept = 0;
    // Reads at most the first 200 bytes of the file's version resource and
    // takes the file version from its fixed block.
    virtual VersionLookup file_version(const char* path, FileVersion& version) noexcept = 0;

    // The folders the file system shows process `process_id` under other
    // names than it shows the caller (a 32-bit process, seen from a 64-bit
    // capture on 64-bit Windows): the files of its modules are looked up as
    // it sees them (wow64_paths.h). Null when it sees them alike, and when
    // the process cannot be asked.
    virtual const SystemFolders* folders_seen_otherwise(std::uint32_t) noexcept { return nullptr; }

protected:
    // Sources are never destroyed through this interface; a trivial
    // destructor keeps the platform's instance free of exit-time code.
    ~ProcessSource() = default;
};

// The platform's own source (defined once per platform).
ProcessSource& platform_process_source() noexcept;

// The source installed by set_process_source (test_seams.h); null for the
// platform's.
inline constinit ProcessSource* installed_process_source = nullptr;

// The source the capture uses: the one installed last, or the platform's.
inline ProcessSource& process_source() noexcept {
    return installed_process_source != nullptr ? *installed_process_source
                                               : platform_process_source();
}

// ---- Two passes to the platform, with no state: TerminateProc and
// GetVersionEx32.

// Opens the process with all access (inheritable handle) and terminates it with
// exit code 0. Nonzero when the platform accepted the request.
std::int32_t terminate_process(std::uint32_t process_id) noexcept;

// Fills the caller's 148-byte OSVERSIONINFOA and answers the platform's result.
std::int32_t get_version_record(void* info) noexcept;

}  // namespace korvex::os
