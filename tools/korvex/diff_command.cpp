// korvex diff: what changed between two snapshots.
#include <cstdio>
#include <map>

#include "commands.h"
#include "output.h"
#include "snapshot_reading.h"
#include "text.h"

namespace korvex::host {

namespace {

using nlohmann::json;

// A process is the same in both snapshots when its id and its executable
// are: an id the system reused for another program is an end and a start.
using ProcessKey = std::pair<std::uint32_t, std::string>;

ProcessKey key_of(const ProcessRecord& p) { return {p.th32ProcessID, field_text(p.szExeFile)}; }

// A module is the same file loaded again when its path is.
std::string module_key(const ModuleRecord& m) {
    const std::string path = field_text(m.szPath);
    return path.empty() ? field_text(m.szShortName) : path;
}

struct ProcessChange {
    const ProcessRecord* process = nullptr;
    std::vector<const ModuleRecord*> loaded, unloaded;
    std::vector<std::pair<const ModuleRecord*, const ModuleRecord*>> updated;  // before, after
};

struct Difference {
    std::vector<ProcessChange> started, ended, changed;
};

using ModulesOf = std::map<std::uint32_t, std::map<std::string, const ModuleRecord*>>;

ModulesOf modules_by_process(const SnapshotPages& pages) {
    ModulesOf modules;
    for (const auto& m : pages.modules) modules[m.dwProcessID].emplace(module_key(m), &m);
    return modules;
}

Difference compare(const SnapshotPages& before, const SnapshotPages& after) {
    std::map<ProcessKey, const ProcessRecord*> old_processes, new_processes;
    for (const auto& p : before.processes) old_processes.emplace(key_of(p), &p);
    for (const auto& p : after.processes) new_processes.emplace(key_of(p), &p);
    ModulesOf old_modules = modules_by_process(before), new_modules = modules_by_process(after);
    const auto all_of = [](const std::map<std::string, const ModuleRecord*>& modules) {
        std::vector<const ModuleRecord*> list;
        for (const auto& [key, m] : modules) list.push_back(m);
        return list;
    };

    Difference difference;
    for (const auto& [key, p] : old_processes)
        if (!new_processes.contains(key))
            difference.ended.push_back({p, {}, all_of(old_modules[key.first]), {}});
    for (const auto& [key, p] : new_processes) {
        if (!old_processes.contains(key)) {
            difference.started.push_back({p, all_of(new_modules[key.first]), {}, {}});
            continue;
        }
        ProcessChange change{p, {}, {}, {}};
        auto& was = old_modules[key.first];
        auto& is = new_modules[key.first];
        for (const auto& [path, m] : is) {
            const auto earlier = was.find(path);
            if (earlier == was.end())
                change.loaded.push_back(m);
            else if (field_text(earlier->second->szVersion) != field_text(m->szVersion) ||
                     earlier->second->dwFileSize != m->dwFileSize)
                change.updated.emplace_back(earlier->second, m);
        }
        for (const auto& [path, m] : was)
            if (!is.contains(path)) change.unloaded.push_back(m);
        if (!change.loaded.empty() || !change.unloaded.empty() || !change.updated.empty())
            difference.changed.push_back(change);
    }
    return difference;
}

json change_json(const ProcessChange& change) {
    json document = process_json(*change.process);
    const auto list = [](const std::vector<const ModuleRecord*>& modules) {
        json array = json::array();
        for (const auto* m : modules) array.push_back(module_json(*m));
        return array;
    };
    document["loaded"] = list(change.loaded);
    document["unloaded"] = list(change.unloaded);
    json updated = json::array();
    for (const auto& [was, is] : change.updated)
        updated.push_back({{"before", module_json(*was)}, {"after", module_json(*is)}});
    document["updated"] = updated;
    return document;
}

std::string module_line(const ModuleRecord& m) {
    const std::string version = field_text(m.szVersion);
    return module_key(m) + " (" + (version.empty() ? "" : version + ", ") +
           std::to_string(m.dwFileSize) + " bytes)";
}

void print_change(const char* what, const ProcessChange& change) {
    print("%s %u %s\n", what, change.process->th32ProcessID,
          field_text(change.process->szExeFile).c_str());
    for (const auto* m : change.loaded) print("  + %s\n", module_line(*m).c_str());
    for (const auto* m : change.unloaded) print("  - %s\n", module_line(*m).c_str());
    for (const auto& [was, is] : change.updated)
        print("  ~ %s -> %s\n", module_line(*was).c_str(), module_line(*is).c_str());
}

}  // namespace

int run_diff(const Library& library, const DiffOptions& options) {
    SnapshotPages before, after;
    std::string error;
    if (!load_work_file(library, options.before, options.rows, before, error) ||
        !load_work_file(library, options.after, options.rows, after, error)) {
        report_error(error);
        return exit_failure;
    }
    const Difference difference = compare(before, after);
    if (options.json) {
        const auto list = [](const std::vector<ProcessChange>& changes) {
            json array = json::array();
            for (const auto& change : changes) array.push_back(change_json(change));
            return array;
        };
        print_json({{"started", list(difference.started)},
                    {"ended", list(difference.ended)},
                    {"changed", list(difference.changed)}});
        return exit_ok;
    }
    for (const auto& change : difference.started) print_change("started", change);
    for (const auto& change : difference.ended) print_change("ended", change);
    for (const auto& change : difference.changed) print_change("changed", change);
    print("%zu started, %zu ended, %zu changed\n", difference.started.size(),
          difference.ended.size(), difference.changed.size());
    return exit_ok;
}

}  // namespace korvex::host
