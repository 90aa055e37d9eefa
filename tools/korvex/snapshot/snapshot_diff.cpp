#include "snapshot/snapshot_diff.h"

#include <map>

#include "core/text.h"

namespace korvex::host {

std::string module_key(const ModuleRecord& m) {
    const std::string path = field_text(m.szPath);
    return path.empty() ? field_text(m.szShortName) : path;
}

namespace {

// A process is the same in both snapshots when its id and its executable
// are: an id the system reused for another program is an end and a start.
using ProcessKey = std::pair<std::uint32_t, std::string>;

ProcessKey key_of(const ProcessRecord& p) { return {p.th32ProcessID, field_text(p.szExeFile)}; }

using ModulesOf = std::map<std::uint32_t, std::map<std::string, const ModuleRecord*>>;

ModulesOf modules_by_process(const SnapshotPages& pages) {
    ModulesOf modules;
    for (const auto& m : pages.modules) modules[m.dwProcessID].emplace(module_key(m), &m);
    return modules;
}

bool same_file(const ModuleRecord& was, const ModuleRecord& is) {
    return was.dwFileSize == is.dwFileSize && field_text(was.szVersion) == field_text(is.szVersion);
}

}  // namespace

Difference compare_snapshots(const SnapshotPages& before, const SnapshotPages& after,
                             const std::string& left_out) {
    const std::string left_out_name = lower_ascii(left_out);
    const auto compared = [&](const ProcessRecord& p) {
        return left_out_name.empty() || lower_ascii(field_text(p.szExeFile)) != left_out_name;
    };
    std::map<ProcessKey, const ProcessRecord*> old_processes, new_processes;
    for (const auto& p : before.processes)
        if (compared(p)) old_processes.emplace(key_of(p), &p);
    for (const auto& p : after.processes)
        if (compared(p)) new_processes.emplace(key_of(p), &p);
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
            else if (!same_file(*earlier->second, *m))
                change.updated.emplace_back(earlier->second, m);
        }
        for (const auto& [path, m] : was)
            if (!is.contains(path)) change.unloaded.push_back(m);
        if (!change.loaded.empty() || !change.unloaded.empty() || !change.updated.empty())
            difference.changed.push_back(change);
    }
    return difference;
}

}  // namespace korvex::host
