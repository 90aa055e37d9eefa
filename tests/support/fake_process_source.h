// A process source for tests: processes, modules and files chosen by the
// test, installed in place of the platform's for the lifetime of a
// ScopedProcessSource. It also keeps count of what the capture asked.
//
//     korvex::test::FakeProcessSource fake;
//     fake.add_process(8, "C:\\APPS\\TOOL.EXE")
//         .add_module("TOOL.EXE", "C:\\APPS\\TOOL.EXE");
//     fake.add_file("C:\\APPS\\TOOL.EXE").size = 1234;
//     korvex::test::ScopedProcessSource installed(fake);
//     ... run the capture (or TakeSnapShot) ...
//
// The sequence fuzz target derives its source from this one and answers the
// file questions from the fuzz input instead.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "korvex32.h"
#include "os/process_source.h"
#include "test_seams.h"

namespace korvex::test {

struct FakeModule {
    std::string name;  // MODULEENTRY32 szModule
    std::string path;  // MODULEENTRY32 szExePath, in any case
    std::uint32_t global_usage = 1;
    std::uint32_t process_usage = 1;
};

struct FakeProcess {
    ProcessRecord entry{};  // every field as the walk will report it, dwSize aside
    std::vector<FakeModule> modules;
    bool module_list_fails = false;

    FakeProcess& add_module(std::string name, std::string path);
};

// A file on the fake disk, found by the exact (upper-cased) path the capture
// asks for.
struct FakeFile {
    std::uint64_t size = 0;
    os::CalendarTime written{1997, 1, 2, 13, 5};  // local last-write time
    std::string alternate_name;                   // the 8.3 name, if the name is long
    std::string short_path;                       // empty: the path itself
    bool short_path_fails = false;
    bool time_conversion_fails = false;
    os::VersionLookup version_lookup = os::VersionLookup::no_version_data;
    os::FileVersion version{};

    FakeFile& with_version(std::uint32_t most_significant, std::uint32_t least_significant);
};

class FakeProcessSource : public os::ProcessSource {
public:
    bool process_list_fails = false;
    std::vector<FakeProcess> processes;
    std::map<std::string, FakeFile> files;

    // What the capture asked, for tests that check how it asks.
    int lists_opened = 0;
    int lists_closed = 0;
    int unknown_lists_closed = 0;
    std::vector<std::uint32_t> module_lists_asked;   // process ids, in order
    std::map<std::string, int> searches;             // find_file calls per path
    std::map<std::string, int> version_reads;        // file_version calls per path
    std::vector<std::uint32_t> process_entry_sizes;  // dwSize seen on each process request

    FakeProcess& add_process(std::uint32_t process_id, std::string exe_file);
    FakeFile& add_file(const std::string& upper_path);

    os::ListHandle open_processes() noexcept override;
    bool first_process(os::ListHandle list, ProcessRecord& entry) noexcept override;
    bool next_process(os::ListHandle list, ProcessRecord& entry) noexcept override;
    os::ListHandle open_modules(std::uint32_t process_id) noexcept override;
    bool first_module(os::ListHandle list, os::ModuleEntry& entry) noexcept override;
    bool next_module(os::ListHandle list, os::ModuleEntry& entry) noexcept override;
    void close_list(os::ListHandle list) noexcept override;
    bool find_file(const char* path, os::FoundFile& found) noexcept override;
    std::uint32_t short_path(const char* path, char* buffer, std::uint32_t size) noexcept override;
    bool local_time(std::uint64_t file_time, os::CalendarTime& local) noexcept override;
    os::VersionLookup file_version(const char* path, os::FileVersion& version) noexcept override;
    // The 32-bit processes a 64-bit capture sees, and their system folders.
    std::vector<std::uint32_t> wow64_processes;
    os::SystemFolders wow64_folders{"C:\\WINDOWS\\SYSTEM32", "C:\\WINDOWS\\SYSWOW64"};
    const os::SystemFolders* folders_seen_otherwise(std::uint32_t id) noexcept override {
        return std::count(wow64_processes.begin(), wow64_processes.end(), id) ? &wow64_folders
                                                                              : nullptr;
    }

private:
    struct OpenList {
        int process_index;  // -1 for the process list
        std::size_t next;
    };
    std::map<os::ListHandle, OpenList> open_;
    std::size_t last_process_ = SIZE_MAX;  // the walk's latest answer
    os::ListHandle next_handle_ = 0x100;
    // File times handed out by find_file stand for these local times.
    std::vector<const FakeFile*> timed_files_;

    bool process_step(os::ListHandle list, ProcessRecord& entry);
    bool module_step(os::ListHandle list, os::ModuleEntry& entry);
    const FakeFile* file_with_short_path(const std::string& path) const;
};

// Installs a source for the lifetime of this object, then puts the
// platform's back.
class ScopedProcessSource {
public:
    explicit ScopedProcessSource(os::ProcessSource& source) { os::set_process_source(&source); }
    ~ScopedProcessSource() { os::set_process_source(nullptr); }
    ScopedProcessSource(const ScopedProcessSource&) = delete;
    ScopedProcessSource& operator=(const ScopedProcessSource&) = delete;
};

}  // namespace korvex::test
