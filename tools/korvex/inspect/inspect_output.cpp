#include "inspect/inspect_output.h"

#include "core/console.h"
#include "core/diagnosis.h"
#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

using nlohmann::json;

void print_inspection(const Inspection& inspection, bool imports, bool exports) {
    print("%s: %s", terminal_text(inspection.path).c_str(), kind_name(inspection.code));
    if (!inspection.machine.empty())
        print(" (%s, %d-bit)", inspection.machine.c_str(), inspection.bits);
    print_char('\n');
    if (inspection.code != KORVEX_IMAGE_PE) return;
    if (!inspection.note.empty()) print("  note: %s\n", terminal_text(inspection.note).c_str());
    if (imports) {
        print("  imports: %s\n", count_of(inspection.imports.size(), "module", "modules").c_str());
        for (const auto& module : inspection.imports) {
            print("    %s (%zu)\n", terminal_text(module.name).c_str(), module.functions.size());
            for (const auto& function : module.functions)
                print("      %s\n", terminal_text(function.text()).c_str());
        }
    }
    if (exports) {
        print("  exports: %s\n", count_of(inspection.exports.size(), "name", "names").c_str());
        for (const auto& name : inspection.exports) print("    %s\n", terminal_text(name).c_str());
    }
}

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
    if (!inspection.note.empty()) file["note"] = to_utf8(inspection.note);
    json imports = json::array();
    for (const auto& module : inspection.imports) {
        json functions = json::array();
        for (const auto& function : module.functions)
            functions.push_back(function.ordinal ? json(*function.ordinal)
                                                 : json(to_utf8(function.name)));
        imports.push_back({{"module", to_utf8(module.name)}, {"functions", functions}});
    }
    json exports = json::array();
    for (const auto& name : inspection.exports) exports.push_back(to_utf8(name));
    if (with_imports) file["imports"] = imports;
    if (with_exports) file["exports"] = exports;
    return file;
}

}  // namespace korvex::host
