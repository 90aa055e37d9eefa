#include "inspect/inspection.h"

#include "core/diagnosis.h"
#include "core/file_view.h"
#include "image/directory_lookup.h"
#include "image_readers/section_map.h"

namespace korvex::host {

namespace {

// The exports do not tell whether the headers are whole, the machine or the
// optional header's format: they are read from one view of the host's own.
void read_header_facts(const std::string& path, Inspection& result) {
    FileView view;
    if (!view.open(path)) return;
    result.problem = pe_damage(view.bytes());
    if (!result.problem.empty()) return;
    if (const auto machine = image::read_machine(view.bytes()))
        result.machine = machine_text(*machine);
    if (const auto layout = image::read_pe_layout(view.bytes()))
        result.bits = layout->format == image::PeFormat::pe32_plus ? 64 : 32;
}

}  // namespace

Inspection inspect_file(const Library& library, const std::string& path, bool imports,
                        bool exports) {
    Inspection result;
    result.path = path;
    result.problem = file_problem(path);
    if (!result.problem.empty()) {
        result.code = KORVEX_MAP_OPEN_FAILED;
        return result;
    }
    result.code = library.map_file(path.c_str());
    if (result.code < 0) result.problem = map_failure(path, result.code);
    if (result.code == KORVEX_IMAGE_PE) read_header_facts(path, result);
    if (result.code == KORVEX_IMAGE_PE && result.problem.empty()) {
        if (imports)
            for (auto& name : imported_modules(library))
                result.imports.push_back({name, imported_functions(library, name)});
        if (exports) result.exports = exported_names(library);
    }
    if (result.code == KORVEX_IMAGE_PE) library.unmap_file(0);
    return result;
}

}  // namespace korvex::host
