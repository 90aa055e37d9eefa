#include "inspect/inspect_output.h"

#include "core/console.h"
#include "core/host_os.h"
#include "core/text.h"
#include "pe/image_diagnosis.h"

namespace korvex::host {

using nlohmann::json;

void print_inspection(const Inspection& inspection, InspectParts parts) {
    print("%s: %s", terminal_text(inspection.path).c_str(), kind_name(inspection.code));
    if (!inspection.machine.empty())
        print(" (%s, %d-bit)", inspection.machine.c_str(), inspection.bits);
    print_char('\n');
    if (inspection.code != KORVEX_IMAGE_PE) return;
    if (inspection.headers) print_text(header_facts_text(*inspection.headers));
    if (!inspection.note.empty()) print("  note: %s\n", terminal_line(inspection.note).c_str());
    if (parts.imports) {
        print("  imports: %s\n", count_of(inspection.imports.size(), "module", "modules").c_str());
        for (const auto& module : inspection.imports) {
            print("    %s (%zu)\n", terminal_text(module.name).c_str(), module.functions.size());
            for (const auto& function : module.functions)
                print("      %s%s%s\n", terminal_text(function.text()).c_str(),
                      function.known_as.empty() ? "" : "  ",
                      terminal_text(function.known_as).c_str());
        }
    }
    if (parts.exports) {
        std::size_t named = 0, forwarded = 0;
        for (const auto& entry : inspection.export_table) {
            named += entry.name.empty() ? 0 : 1;
            forwarded += entry.forwarder.empty() ? 0 : 1;
        }
        print("  exports: %zu (%s, %s)\n", inspection.export_table.size(),
              count_of(named, "name", "names").c_str(),
              count_of(forwarded, "forwarder", "forwarders").c_str());
        for (const auto& entry : inspection.export_table)
            print("    %5u  %s%s%s\n", entry.ordinal,
                  entry.name.empty() ? "(no name)" : terminal_text(entry.name).c_str(),
                  entry.forwarder.empty() ? "" : " -> ", terminal_text(entry.forwarder).c_str());
    }
}

json inspection_json(const Inspection& inspection, InspectParts parts) {
    json file = {{"path", to_utf8(inspection.path)}, {"code", inspection.code}};
    file["kind"] = inspection.code < 0 ? json(nullptr) : json(kind_name(inspection.code));
    if (!inspection.problem.empty()) {
        file["error"] = to_utf8(inspection.problem);
        return file;
    }
    if (inspection.code != KORVEX_IMAGE_PE) return file;
    file["machine"] = inspection.machine.empty() ? json(nullptr) : json(inspection.machine);
    file["bits"] = inspection.bits == 0 ? json(nullptr) : json(inspection.bits);
    if (!inspection.note.empty()) file["note"] = to_utf8(inspection.note);
    json imports = json::array();
    for (const auto& module : inspection.imports) {
        json functions = json::array();
        for (const auto& function : module.functions)
            functions.push_back(function.ordinal ? json(*function.ordinal)
                                                 : json(to_utf8(function.name)));
        json import = {{"module", to_utf8(module.name)}, {"functions", functions}};
        json names = json::object();
        for (const auto& function : module.functions)
            if (function.ordinal && !function.known_as.empty())
                names[std::to_string(*function.ordinal)] = to_utf8(function.known_as);
        if (!names.empty()) import["ordinal_names"] = names;
        imports.push_back(import);
    }
    json exports = json::array();
    for (const auto& name : inspection.exports) exports.push_back(to_utf8(name));
    json table = json::array();
    for (const auto& entry : inspection.export_table)
        table.push_back({{"ordinal", entry.ordinal},
                         {"name", entry.name.empty() ? json(nullptr) : json(to_utf8(entry.name))},
                         {"forwarder", entry.forwarder.empty() ? json(nullptr)
                                                               : json(to_utf8(entry.forwarder))}});
    if (inspection.headers) file["headers"] = header_facts_json(*inspection.headers);
    if (parts.imports) file["imports"] = imports;
    if (parts.exports) file["exports"] = exports, file["export_table"] = table;
    return file;
}

void print_csv_header(const std::string& table) {
    if (table == "facts") return print_csv_row(facts_csv_columns());
    print_csv_row(table == "imports"
                      ? std::vector<std::string>{"file", "module", "function", "ordinal"}
                      : std::vector<std::string>{"file", "ordinal", "name", "forwarder"});
}

void print_inspection_csv(const Inspection& inspection, const std::string& table) {
    if (table == "facts") {
        if (inspection.headers) print_csv_row(facts_csv_row(inspection.path, *inspection.headers));
        return;
    }
    if (table == "imports") {
        for (const auto& module : inspection.imports)
            for (const auto& function : module.functions)
                // An import by ordinal is named, as in text and JSON, when
                // its DLL was found.
                print_csv_row({inspection.path, module.name,
                               function.ordinal ? function.known_as : function.name,
                               function.ordinal ? std::to_string(*function.ordinal) : ""});
        return;
    }
    for (const auto& entry : inspection.export_table)
        print_csv_row(
            {inspection.path, std::to_string(entry.ordinal), entry.name, entry.forwarder});
}

}  // namespace korvex::host
