#include "snapshot/snapshot_listing.h"

#include <algorithm>
#include <unordered_set>

#include "core/console.h"
#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

using nlohmann::json;

void apply_filter(SnapshotPages& pages, const ProcessFilter& filter) {
    std::unordered_set<std::uint32_t> with_module;
    if (!filter.module.empty())
        for (const auto& m : pages.modules) {
            const std::string path = field_text(m.szPath);
            const std::string file = path.substr(path.find_last_of("/\\") + 1);
            if (matches_pattern(field_text(m.szShortName), filter.module) ||
                matches_pattern(file, filter.module))
                with_module.insert(m.dwProcessID);
        }
    std::erase_if(pages.processes, [&](const ProcessRecord& p) {
        return (filter.process != 0 && p.th32ProcessID != filter.process) ||
               (!filter.name.empty() && !matches_pattern(field_text(p.szExeFile), filter.name)) ||
               (!filter.module.empty() && !with_module.contains(p.th32ProcessID));
    });
    std::unordered_set<std::uint32_t> kept;
    for (const auto& p : pages.processes) kept.insert(p.th32ProcessID);
    std::erase_if(pages.modules,
                  [&](const ModuleRecord& m) { return !kept.contains(m.dwProcessID); });
    // The library sorts by bytes, which puts "USER32.dll" before
    // "advapi32.dll"; people read lists as Windows orders them.
    std::stable_sort(pages.processes.begin(), pages.processes.end(),
                     [](const ProcessRecord& a, const ProcessRecord& b) {
                         return windows_name_less(field_view(a.szExeFile), field_view(b.szExeFile));
                     });
    std::stable_sort(pages.modules.begin(), pages.modules.end(),
                     [](const ModuleRecord& a, const ModuleRecord& b) {
                         const auto name_a = field_view(a.szShortName);
                         const auto name_b = field_view(b.szShortName);
                         if (name_a != name_b) return windows_name_less(name_a, name_b);
                         return windows_name_less(field_view(a.szPath), field_view(b.szPath));
                     });
}

LongNames::LongNames(const SnapshotPages& pages, Lookup lookup)
    : lookup_(lookup != nullptr ? lookup : long_file_name) {
    for (const auto& m : pages.modules) modules_[m.dwProcessID].push_back(&m);
}

std::string LongNames::of_path(const std::string& path, const std::string& name) const {
    if (path.empty()) return {};
    auto known = known_.find(path);
    if (known == known_.end()) known = known_.emplace(path, lookup_(path)).first;
    return lower_ascii(known->second) == lower_ascii(name) ? std::string() : known->second;
}

std::string LongNames::of_module(const ModuleRecord& module) const {
    return of_path(field_text(module.szPath), field_text(module.szShortName));
}

std::string LongNames::of_process(const ProcessRecord& process) const {
    const auto modules = modules_.find(process.th32ProcessID);
    if (modules == modules_.end()) return {};
    const std::string exe = lower_ascii(field_text(process.szExeFile));
    for (const ModuleRecord* m : modules->second)
        if (lower_ascii(field_text(m->szShortName)) == exe)
            return of_path(field_text(m->szPath), field_text(process.szExeFile));
    return {};
}

std::string with_long_name(const std::string& name, const std::string& long_name) {
    return long_name.empty() ? name : name + " (" + long_name + ")";
}

namespace {

// Prints rows under a header, every column as wide as its widest cell; the
// last column is left unpadded.
void print_table(const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows,
                 const std::vector<bool>& right_aligned, TableFormat format) {
    const bool with_header = format.header;
    if (format.csv) {
        if (with_header) print_csv_row(header);
        for (const auto& row : rows) print_csv_row(row);
        return;
    }
    // Names come from files and processes: what reaches a terminal is escaped.
    std::vector<std::vector<std::string>> shown;
    for (const auto& row : rows) {
        shown.emplace_back();
        for (const auto& cell : row) shown.back().push_back(terminal_text(cell));
    }
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = with_header ? header[c].size() : 0;
    for (const auto& row : shown)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    auto print_row = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            const bool last = c + 1 == row.size();
            const int width = last ? 0 : static_cast<int>(widths[c]);
            print(right_aligned[c] ? "%*s" : "%-*s", width, row[c].c_str());
            print_text(last ? "\n" : "  ");
        }
    };
    if (with_header) print_row(header);
    for (const auto& row : shown) print_row(row);
}

// "MM/DD/YYYY" and "HH:MMa" (24-hour clock, a/p after it) as
// "YYYY-MM-DDTHH:MM", local time as recorded; null when the texts are not
// in that form (a module whose file could not be read).
json iso_8601(const std::string& date, const std::string& time) {
    const auto digits = [](const std::string& text, std::initializer_list<std::size_t> at) {
        for (const std::size_t i : at)
            if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        return true;
    };
    if (date.size() != 10 || date[2] != '/' || date[5] != '/' ||
        !digits(date, {0, 1, 3, 4, 6, 7, 8, 9}) || time.size() < 5 || time[2] != ':' ||
        !digits(time, {0, 1, 3, 4}))
        return nullptr;
    return date.substr(6, 4) + "-" + date.substr(0, 2) + "-" + date.substr(3, 2) + "T" +
           time.substr(0, 5);
}

}  // namespace

void print_processes(const SnapshotPages& pages, const LongNames& names, TableFormat format) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& p : pages.processes) {
        const std::string exe = field_text(p.szExeFile);
        rows.push_back({std::to_string(p.th32ProcessID), std::to_string(p.th32ParentProcessID),
                        std::to_string(p.cntThreads), std::to_string(p.pcPriClassBase),
                        format.csv ? exe : with_long_name(exe, names.of_process(p))});
    }
    print_table({"PID", "PARENT", "THREADS", "PRIO", "EXECUTABLE"}, rows,
                {true, true, true, true, false}, format);
}

void print_modules(const SnapshotPages& pages, const LongNames& names, TableFormat format) {
    std::unordered_map<std::uint32_t, std::string> process_names;
    for (const auto& p : pages.processes) process_names[p.th32ProcessID] = field_text(p.szExeFile);
    std::vector<std::vector<std::string>> rows;
    for (const auto& m : pages.modules) {
        const std::string name = field_text(m.szShortName);
        rows.push_back({std::to_string(m.dwProcessID), process_names[m.dwProcessID],
                        format.csv ? name : with_long_name(name, names.of_module(m)),
                        std::to_string(m.dwFileSize), field_text(m.szVersion), field_text(m.szDate),
                        field_text(m.szTime), field_text(m.szPath)});
    }
    print_table({"PID", "PROCESS", "NAME", "SIZE", "VERSION", "DATE", "TIME", "PATH"}, rows,
                {true, false, false, true, false, false, false, false}, format);
}

namespace {

json long_name_json(const std::string& long_name) {
    return long_name.empty() ? json(nullptr) : json(to_utf8(long_name));
}

}  // namespace

json process_json(const ProcessRecord& p, const LongNames& names) {
    return {{"pid", p.th32ProcessID},
            {"parent", p.th32ParentProcessID},
            {"threads", p.cntThreads},
            {"priority", p.pcPriClassBase},
            {"usage", p.cntUsage},
            {"flags", p.dwFlags},
            {"module_id", p.th32ModuleID},
            {"heap_id", p.th32DefaultHeapID},
            {"exe", to_utf8(field_text(p.szExeFile))},
            {"long_name", long_name_json(names.of_process(p))}};
}

json module_json(const ModuleRecord& m, const LongNames& names) {
    return {{"pid", m.dwProcessID},
            {"name", to_utf8(field_text(m.szShortName))},
            {"long_name", long_name_json(names.of_module(m))},
            {"size", m.dwFileSize},
            {"global_usage", m.dwGlblcntUsage},
            {"process_usage", m.dwProccntUsage},
            {"version", to_utf8(field_text(m.szVersion))},
            {"modified", iso_8601(field_text(m.szDate), field_text(m.szTime))},
            {"path", to_utf8(field_text(m.szPath))}};
}

json snapshot_json(const SnapshotPages& pages, const LongNames& names) {
    json processes = json::array();
    for (const auto& p : pages.processes) processes.push_back(process_json(p, names));
    json modules = json::array();
    for (const auto& m : pages.modules) modules.push_back(module_json(m, names));
    return {{"processes", processes}, {"modules", modules}};
}

}  // namespace korvex::host
