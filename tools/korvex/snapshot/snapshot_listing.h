// How snapshot and show list a snapshot's processes and modules: which ones
// (the filters), and how (aligned text, CSV, JSON), with the long name of a
// file beside the 8.3 alias a record may hold.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/library.h"

namespace korvex::host {

// Which processes a listing shows, as tasklist's filters choose them; an
// empty criterion takes every process. Names are matched without regard to
// letter case, with * and ? as wildcards.
struct ProcessFilter {
    std::uint32_t process = 0;  // this id only
    std::string name;           // executable name pattern
    std::string module;         // processes with a module of this name (pattern) loaded
};

// Keeps the processes that pass `filter` and the modules of those processes,
// each list in the order Windows lists names (windows_name_less): processes
// by executable, modules by name and then path.
void apply_filter(SnapshotPages& pages, const ProcessFilter& filter);

// The long names of the files a snapshot names by 8.3 aliases
// ("KERN~ZT2.DLL"), asked of the file system once a path. A record keeps
// what the library stored; the listing shows the long name beside it, where
// the file still exists.
class LongNames {
public:
    // `lookup` answers the long name of the file at a path, or empty
    // (long_file_name by default).
    using Lookup = std::string (*)(const std::string& path);
    explicit LongNames(const SnapshotPages& pages, Lookup lookup = nullptr);

    // The long name of a module's file, when it differs from the record's
    // short name; else empty.
    [[nodiscard]] std::string of_module(const ModuleRecord& module) const;
    // The long name of a process's executable: that of its module of the same
    // short name, when it differs; else empty.
    [[nodiscard]] std::string of_process(const ProcessRecord& process) const;

private:
    std::string of_path(const std::string& path, const std::string& name) const;

    Lookup lookup_;
    mutable std::unordered_map<std::string, std::string> known_;  // path -> long name
    std::unordered_map<std::uint32_t, std::vector<const ModuleRecord*>> modules_;
};

// "NAME" alone, or "NAME (long name)" when there is one.
std::string with_long_name(const std::string& name, const std::string& long_name);

struct TableFormat {
    bool header = true;  // the line of column names
    bool csv = false;    // comma-separated values instead of aligned columns
};

void print_processes(const SnapshotPages& pages, const LongNames& names, TableFormat format);
// Each module with the name of the process it is loaded into.
void print_modules(const SnapshotPages& pages, const LongNames& names, TableFormat format);

nlohmann::json process_json(const ProcessRecord& record, const LongNames& names);
nlohmann::json module_json(const ModuleRecord& record, const LongNames& names);
nlohmann::json snapshot_json(const SnapshotPages& pages, const LongNames& names);

}  // namespace korvex::host
