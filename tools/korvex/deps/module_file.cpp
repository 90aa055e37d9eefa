#include "deps/module_file.h"

#include <filesystem>
#include <system_error>

#include "core/diagnosis.h"
#include "core/file_view.h"
#include "core/host_os.h"
#include "image_readers/delay_imports.h"
#include "image_readers/export_table.h"
#include "image_readers/section_map.h"

namespace korvex::host {

namespace {

namespace img = korvex::image;

// Bounds on what one file may make the walk read. Real programs import from a
// few dozen modules and a few thousand functions; a crafted file whose
// descriptors all share one huge lookup table would otherwise cost its size
// once per descriptor.
constexpr std::size_t max_modules_per_file = 4096;
constexpr std::size_t max_functions_per_file = 1'000'000;
// Ordinals are 16-bit, so no import can reach a later address-table slot.
constexpr std::uint32_t max_export_slots = 0x10000;

void read_static_imports(const Library& library, ModuleFile& module, std::size_t& functions) {
    for (const auto& name : imported_modules(library)) {
        if (module.imports.size() == max_modules_per_file || functions >= max_functions_per_file)
            break;
        ModuleImport import{name, imported_functions(library, name), false};
        functions += import.functions.size();
        module.imports.push_back(std::move(import));
    }
}

void read_delay_imports(const img::SectionMap& image, ModuleFile& module, std::size_t& functions) {
    img::DelayModuleWalk modules(image);
    std::size_t delay_modules = 0;
    while (const auto delayed = modules.next()) {
        if (++delay_modules > max_modules_per_file) break;
        ModuleImport import{std::string(delayed->name), {}, true};
        img::DelayFunctionWalk walk(image, *delayed);
        while (functions < max_functions_per_file) {
            const auto function = walk.next();
            if (!function) break;
            ++functions;
            if (function->by_ordinal)
                import.functions.push_back({{}, function->ordinal});
            else
                import.functions.push_back(
                    {std::string(reinterpret_cast<const char*>(function->name),
                                 function->name_length),
                     std::nullopt});
        }
        module.imports.push_back(std::move(import));
    }
}

void read_exports(const img::SectionMap& image, ModuleFile& module) {
    const auto table = img::read_export_table(image);
    if (!table) return;
    module.ordinal_base = table->ordinal_base;
    const std::uint32_t slots = std::min(table->function_count, max_export_slots);
    module.code_slots.assign(slots, false);
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        const auto target = img::export_target(image, *table, slot);
        if (target.kind == img::ExportTarget::Kind::code) module.code_slots[slot] = true;
        if (target.kind == img::ExportTarget::Kind::forwarder)
            module.forwarders.emplace(slot, std::string(target.forwarder));
    }
    img::ExportNameWalk names(image, *table);
    while (const auto name = names.next()) {
        // The loader finds the first of two equal names.
        module.export_slots.emplace(std::string(name->name), name->slot);
        if (module.export_slots.size() > max_functions_per_file) break;
    }
}

ExportLookup lookup_slot(const ModuleFile& module, std::uint32_t slot) {
    if (const auto forwarder = module.forwarders.find(slot); forwarder != module.forwarders.end())
        return {ExportLookup::Kind::forwarder, forwarder->second};
    if (slot < module.code_slots.size() && module.code_slots[slot])
        return {ExportLookup::Kind::code, {}};
    return {};
}

}  // namespace

ExportLookup ModuleFile::find_export(const std::string& name) const {
    const auto found = export_slots.find(name);
    return found == export_slots.end() ? ExportLookup{} : lookup_slot(*this, found->second);
}

ExportLookup ModuleFile::find_export(std::uint16_t ordinal) const {
    if (ordinal < ordinal_base) return {};
    return lookup_slot(*this, ordinal - ordinal_base);
}

std::unique_ptr<ModuleFile> read_module_file(const Library& library, const std::string& path) {
    auto module = std::make_unique<ModuleFile>();
    module->path = path;
    const std::int32_t kind = library.map_file(path.c_str());
    if (kind != KORVEX_IMAGE_PE) {
        if (kind == KORVEX_IMAGE_NE || kind == KORVEX_IMAGE_LE || kind == KORVEX_IMAGE_MZ)
            module->problem = std::string("not a PE image (") + kind_name(kind) + ")";
        else
            module->problem = map_failure(path, kind);
        return module;
    }
    std::size_t functions = 0;
    read_static_imports(library, *module, functions);
    library.unmap_file(0);

    FileView view;
    const auto image = view.open(path) ? img::SectionMap::read(view.bytes()) : std::nullopt;
    const auto machine = img::read_machine(view.bytes());
    if (!image || !machine) {
        module->problem = "its PE headers are cut off";
        module->imports.clear();
        return module;
    }
    module->machine = *machine;
    read_delay_imports(*image, *module, functions);
    read_exports(*image, *module);
    return module;
}

std::unique_ptr<ModuleFile> ModuleFiles::read(const std::string& path) {
    return read_module_file(library_, path);
}

bool ModuleFiles::exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(native_path(path), error);
}

std::vector<std::string> ModuleFiles::list_folder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(native_path(folder), error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code type_error;
        if (!entry->is_regular_file(type_error)) continue;
        // The whole path, so that an 8.3 alias can be found for a name the
        // code page cannot spell.
        const std::string path = library_path(entry->path());
        names.push_back(path.substr(path.find_last_of("\\/") + 1));
    }
    return names;
}

std::unique_ptr<ApiSets> ModuleFiles::read_api_sets(const std::string& path) {
    FileView view;
    return view.open(path) ? std::make_unique<ApiSets>(view.bytes()) : std::make_unique<ApiSets>();
}

}  // namespace korvex::host
