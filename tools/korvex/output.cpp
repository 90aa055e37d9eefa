#include "output.h"

#include <algorithm>
#include <unordered_map>

#include "text.h"

namespace korvex::host {

using nlohmann::json;

void print_inspection(const Inspection& inspection, bool imports, bool exports) {
    print("%s: %s", inspection.path.c_str(), kind_name(inspection.code));
    if (!inspection.machine.empty())
        print(" (%s, %d-bit)", inspection.machine.c_str(), inspection.bits);
    print_char('\n');
    if (inspection.code != KORVEX_IMAGE_PE) return;
    if (imports) {
        print("  imports: %zu modules\n", inspection.imports.size());
        for (const auto& module : inspection.imports) {
            print("    %s (%zu)\n", module.name.c_str(), module.functions.size());
            for (const auto& function : module.functions) print("      %s\n", function.c_str());
        }
    }
    if (exports) {
        print("  exports: %zu names\n", inspection.exports.size());
        for (const auto& name : inspection.exports) print("    %s\n", name.c_str());
    }
}

namespace {

// An import by ordinal comes from the library as a five-character number
// ("   12"); JSON gives it as that number, a name as a string.
json function_json(const std::string& function) {
    const auto digit = function.find_first_not_of(' ');
    if (function.size() == 5 && digit != std::string::npos &&
        function.find_first_not_of("0123456789", digit) == std::string::npos)
        return std::stoul(function.substr(digit));
    return to_utf8(function);
}

}  // namespace

json inspection_json(const Inspection& inspection, bool with_imports, bool with_exports) {
    json file = {{"path", to_utf8(inspection.path)}, {"code", inspection.code}};
    file["kind"] = inspection.code < 0 ? json(nullptr) : json(kind_name(inspection.code));
    if (!inspection.problem.empty()) {
        file["error"] = to_utf8(inspection.problem);
        return file;
    }
    if (inspection.code != KORVEX_IMAGE_PE) return file;
    file["machine"] = inspection.machine.empty() ? json(nullptr) : json(inspection.machine);
    file["bits"] = inspection.bits == 0 ? json(nullptr) : json(inspection.bits);
    json imports = json::array();
    for (const auto& module : inspection.imports) {
        json functions = json::array();
        for (const auto& function : module.functions) functions.push_back(function_json(function));
        imports.push_back({{"module", to_utf8(module.name)}, {"functions", functions}});
    }
    json exports = json::array();
    for (const auto& name : inspection.exports) exports.push_back(to_utf8(name));
    if (with_imports) file["imports"] = imports;
    if (with_exports) file["exports"] = exports;
    return file;
}

namespace {

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
void print_csv_row(const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string& field = row[c];
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            print_text(field);
        } else {
            print_char('"');
            for (const char ch : field) {
                if (ch == '"') print_char('"');
                print_char(ch);
            }
            print_char('"');
        }
        print_char(c + 1 == row.size() ? '\n' : ',');
    }
}

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
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = with_header ? header[c].size() : 0;
    for (const auto& row : rows)
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
    for (const auto& row : rows) print_row(row);
}

}  // namespace

void print_processes(const std::vector<ProcessRecord>& processes, TableFormat format) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& p : processes)
        rows.push_back({std::to_string(p.th32ProcessID), std::to_string(p.th32ParentProcessID),
                        std::to_string(p.cntThreads), std::to_string(p.pcPriClassBase),
                        field_text(p.szExeFile)});
    print_table({"PID", "PARENT", "THREADS", "PRIO", "EXECUTABLE"}, rows,
                {true, true, true, true, false}, format);
}

void print_modules(const std::vector<ModuleRecord>& modules,
                   const std::vector<ProcessRecord>& processes, TableFormat format) {
    std::unordered_map<std::uint32_t, std::string> process_names;
    for (const auto& p : processes) process_names[p.th32ProcessID] = field_text(p.szExeFile);
    std::vector<std::vector<std::string>> rows;
    for (const auto& m : modules)
        rows.push_back({std::to_string(m.dwProcessID), process_names[m.dwProcessID],
                        field_text(m.szShortName), std::to_string(m.dwFileSize),
                        field_text(m.szVersion), field_text(m.szDate), field_text(m.szTime),
                        field_text(m.szPath)});
    print_table({"PID", "PROCESS", "NAME", "SIZE", "VERSION", "DATE", "TIME", "PATH"}, rows,
                {true, false, false, true, false, false, false, false}, format);
}

namespace {

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

json process_json(const ProcessRecord& p) {
    return {{"pid", p.th32ProcessID},
            {"parent", p.th32ParentProcessID},
            {"threads", p.cntThreads},
            {"priority", p.pcPriClassBase},
            {"usage", p.cntUsage},
            {"flags", p.dwFlags},
            {"module_id", p.th32ModuleID},
            {"heap_id", p.th32DefaultHeapID},
            {"exe", to_utf8(field_text(p.szExeFile))}};
}

json module_json(const ModuleRecord& m) {
    return {{"pid", m.dwProcessID},
            {"name", to_utf8(field_text(m.szShortName))},
            {"size", m.dwFileSize},
            {"global_usage", m.dwGlblcntUsage},
            {"process_usage", m.dwProccntUsage},
            {"version", to_utf8(field_text(m.szVersion))},
            {"modified", iso_8601(field_text(m.szDate), field_text(m.szTime))},
            {"path", to_utf8(field_text(m.szPath))}};
}

json snapshot_json(const SnapshotPages& pages) {
    json processes = json::array();
    for (const auto& p : pages.processes) processes.push_back(process_json(p));
    json modules = json::array();
    for (const auto& m : pages.modules) modules.push_back(module_json(m));
    return {{"processes", processes}, {"modules", modules}};
}

void print_json(const json& document) { print("%s\n", document.dump(2).c_str()); }

void print_json_line(const json& document) { print("%s\n", document.dump().c_str()); }

}  // namespace korvex::host
