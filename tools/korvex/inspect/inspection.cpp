#include "inspect/inspection.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

#include "core/files.h"
#include "core/host_os.h"
#include "core/text.h"
#include "image/directory_lookup.h"
#include "image_readers/export_table.h"
#include "image_readers/import_tables.h"
#include "image_readers/pe_image.h"
#include "pe/file_view.h"
#include "pe/image_diagnosis.h"
#include "pe/input_budget.h"

namespace korvex::host {

namespace {

// Most modules a note names; the rest are counted.
constexpr std::size_t modules_named = 4;

// The modules the loader would load, when they are not the ones the library
// lists: the library converts the import table's addresses through the
// section that holds the table, the loader through the section that holds
// each address. Empty when both agree.
std::string loader_note(const image::PeImage& image, const std::vector<ImportedModule>& listed) {
    std::vector<std::string> loaded;
    image::ImportModuleWalk walk(image, image::ImportTable::imports);
    while (const auto module = walk.next()) {
        if (loaded.size() == listed.size() + modules_named) break;
        loaded.emplace_back(module->name);
    }
    bool same = loaded.size() == listed.size();
    for (std::size_t i = 0; same && i < loaded.size(); ++i) same = loaded[i] == listed[i].name;
    if (same) return {};
    std::string names;
    for (std::size_t i = 0; i < loaded.size() && i < modules_named; ++i)
        names += (i == 0 ? "" : ", ") + loaded[i];
    if (loaded.size() > modules_named) names += ", ...";
    return "the Windows loader reads the imports differently: " +
           count_of(loaded.size(), "module", "modules") +
           (names.empty() ? "" : " (" + names + ")") + " where the library lists " +
           std::to_string(listed.size());
}

// The first limit per file the lists pass, as deps words it; empty when they
// pass none.
std::string limit_passed(const Inspection& result) {
    if (result.imports.size() > max_modules_per_file)
        return too_many("its imports name", max_modules_per_file, "modules");
    std::size_t functions = 0;
    for (const auto& module : result.imports) functions += module.functions.size();
    if (functions > max_functions_per_file)
        return too_many("it imports", max_functions_per_file, "functions");
    if (result.exports.size() > max_functions_per_file)
        return too_many("its export table names", max_functions_per_file, "functions");
    for (const auto& module : result.imports) {
        if (module.name.size() > max_name_bytes) return name_too_long("an imported module's name");
        for (const auto& function : module.functions)
            if (function.name.size() > max_name_bytes)
                return name_too_long("an imported function's name");
    }
    for (const auto& name : result.exports)
        if (name.size() > max_name_bytes) return name_too_long("an exported name");
    return {};
}

// The exports do not tell whether the image would load, the machine or the
// optional header's format: they are read from one view of the host's own.
void read_view(const std::string& path, InspectParts parts, Inspection& result,
               InputBudget& budget) {
    FileView view;
    if (!view.open(path)) return;
    const auto image = image::PeImage::parse(view.bytes());
    result.problem = pe_damage(image.check());
    if (!result.problem.empty() || !image.placed()) return;
    result.machine_id = image.layout().file_header.machine;
    result.machine = machine_text(result.machine_id);
    result.bits = image.layout().format == image::PeFormat::pe32_plus ? 64 : 32;
    if (parts.imports) result.note = loader_note(image, result.imports);
    if (parts.headers) result.headers = read_header_facts(image);
    if (!parts.exports) return;
    // Every slot's entry and forwarder are charged before the table is read
    // (its names were, as the library listed them).
    const auto table = image::read_export_table(image);
    if (!table) return;
    const std::uint64_t slots =
        std::min<std::uint64_t>(table->function_count, view.bytes().size() / 4 + 1);
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        const auto target = image::export_target(image, *table, slot);
        if (target.too_long) {
            result.problem = name_too_long("a forwarder");
            return;
        }
        if (target.kind == image::ExportTarget::Kind::none) continue;
        if (!budget.take(2 * wide_size<ExportEntry, 72>() + InputBudget::node_overhead) ||
            !budget.take_string(target.forwarder.size()))
            return;
    }
    result.export_table = read_export_entries(image);
}

// Reads the lists of a mapped PE image, then the rest from a view; a limit
// passed is the file's problem.
void read_lists(const Library& library, const std::string& path, InspectParts parts,
                Inspection& result) {
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(native_path(path), error);
    InputBudget budget(error ? 0 : size);
    if (parts.imports)
        for (auto& name : imported_modules(library, &budget))
            result.imports.push_back({name, imported_functions(library, name, &budget)});
    if (parts.exports) result.exports = exported_names(library, &budget);
    library.unmap_file(0);
    if (std::string limit = limit_passed(result); !limit.empty()) {
        result.problem = std::move(limit);
        return;
    }
    if (!budget.exceeded()) read_view(path, parts, result, budget);
    if (result.problem.empty() && budget.exceeded())
        result.problem = InputBudget::refusal(error ? 0 : size);
}

}  // namespace

void OrdinalNames::name_imports(const std::string& path, std::uint16_t machine,
                                std::vector<ImportedModule>& imports) {
    std::vector<std::string> folders = {
        std::filesystem::path(native_path(path)).parent_path().empty()
            ? std::string(".")
            : library_path(std::filesystem::path(native_path(path)).parent_path())};
    folders.insert(folders.end(), search_.begin(), search_.end());
    const std::string system = system_.empty() ? default_system_folder(machine) : system_;
    if (!system.empty()) folders.push_back(system);
    std::string key = std::to_string(machine);
    for (const auto& folder : folders) key += '\n' + folder;
    auto& found = folders_[key];
    if (!found) found = std::make_unique<ModuleFolders>(folders, machine);
    for (auto& module : imports) {
        const ModuleFile* file = nullptr;
        for (auto& function : module.functions) {
            if (!function.ordinal) continue;
            if (file == nullptr && (file = found->find(module.name)) == nullptr) break;
            function.known_as = file->name_of(*function.ordinal);
        }
    }
}

Inspection inspect_file(const Library& library, const std::string& path, InspectParts parts) {
    Inspection result;
    result.path = path;
    result.problem = file_problem(path);
    if (!result.problem.empty()) {
        result.code = KORVEX_MAP_OPEN_FAILED;
        result.not_executable = result.problem == "is empty";
        return result;
    }
    result.code = library.map_file(path.c_str());
    if (result.code < 0) result.problem = map_failure(path, result.code);
    result.not_executable = result.code == KORVEX_MAP_NOT_MZ;
    if (result.code != KORVEX_IMAGE_PE) return result;
    try {
        read_lists(library, path, parts, result);
    } catch (const std::bad_alloc&) {
        library.unmap_file(0);
        result.problem = "could not be inspected: korvex ran out of memory on it";
    }
    if (!result.problem.empty()) {
        // Released, not just emptied: the next file starts from nothing.
        std::vector<ImportedModule>().swap(result.imports);
        std::vector<std::string>().swap(result.exports);
        std::vector<ExportEntry>().swap(result.export_table);
    }
    return result;
}

}  // namespace korvex::host
