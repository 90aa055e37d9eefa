#include "inspection.h"

#include "diagnosis.h"
#include "file_view.h"
#include "image/directory_lookup.h"
#include "image/section_map.h"
#include "module_file.h"
#include "text.h"

namespace korvex::host {

namespace {

// Size query, then fill, of a name list that takes a buffer or null.
std::vector<std::string> read_list(std::int32_t(KORVEX_API* list)(char*)) {
    const std::int32_t size = list(nullptr);
    if (size <= 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(size));
    list(buffer.data());
    return split_name_list(buffer);
}

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

std::vector<std::string> read_imported_modules(const Library& library) {
    return read_list(library.import_modules);
}

std::vector<std::string> read_functions(const Library& library, const std::string& module) {
    // The request is the mode byte and the module name; the fill overwrites
    // it, so the buffer is at least as long as the request too.
    std::vector<char> request(module.size() + 2, '\0');
    request[0] = '0';
    module.copy(request.data() + 1, module.size());
    const std::int32_t size = library.import_functions(request.data());
    if (size <= 0) return {};
    std::vector<char> buffer(std::max(request.size(), static_cast<std::size_t>(size)), '\0');
    std::copy(request.begin(), request.end(), buffer.begin());
    buffer[0] = '1';
    library.import_functions(buffer.data());
    buffer.resize(static_cast<std::size_t>(size));
    return split_name_list(buffer);
}

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
            for (auto& name : read_list(library.import_modules))
                result.imports.push_back({name, read_functions(library, name)});
        if (exports) result.exports = read_list(library.export_names);
    }
    if (result.code == KORVEX_IMAGE_PE) library.unmap_file(0);
    return result;
}

const char* kind_name(std::int32_t code) {
    switch (code) {
        case KORVEX_IMAGE_PE:
            return "PE";
        case KORVEX_IMAGE_NE:
            return "NE";
        case KORVEX_IMAGE_LE:
            return "LE";
        case KORVEX_IMAGE_MZ:
            return "MZ";
        default:
            return "error";
    }
}

}  // namespace korvex::host
