#include "core/module_file.h"

#include <filesystem>
#include <system_error>

#include "core/diagnosis.h"
#include "core/file_view.h"
#include "core/host_os.h"
#include "core/text.h"
#include "image_readers/export_table.h"
#include "image_readers/import_tables.h"
#include "image_readers/section_map.h"
#include "korvex32.h"

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

// The modules of one import table and their functions. False when the walk
// stopped at something outside the file's data.
bool read_imports(const img::SectionMap& image, img::ImportTable table, ModuleFile& module,
                  std::size_t& functions) {
    img::ImportModuleWalk modules(image, table);
    std::size_t count = 0;
    while (const auto entry = modules.next()) {
        if (++count > max_modules_per_file) return true;
        ModuleImport import{std::string(entry->name), {}, table == img::ImportTable::delay_imports};
        img::ImportFunctionWalk walk(image, *entry);
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
        if (walk.ended_outside()) return false;
    }
    return !modules.ended_outside();
}

// False when the image names an export directory that is not in its data.
bool read_exports(const img::SectionMap& image, ModuleFile& module) {
    const auto table = img::read_export_table(image);
    if (!table) {
        const auto directory = image.directory(img::export_directory);
        return !directory || directory->rva == 0;
    }
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
        module.slot_names.emplace(name->slot, std::string(name->name));
        if (module.export_slots.size() > max_functions_per_file) break;
    }
    return true;
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

std::string ModuleFile::name_of(std::uint16_t ordinal) const {
    if (ordinal < ordinal_base) return {};
    const auto found = slot_names.find(ordinal - ordinal_base);
    return found == slot_names.end() ? std::string() : found->second;
}

ModuleFolders::ModuleFolders(std::vector<std::string> folders, std::uint16_t machine)
    : folders_(std::move(folders)), machine_(machine) {}

const ModuleFile* ModuleFolders::find(const std::string& name) {
    const std::string wanted = lower_ascii(name);
    for (const auto& folder : folders_) {
        auto listing = listings_.find(folder);
        if (listing == listings_.end()) {
            listing = listings_.try_emplace(folder).first;
            std::error_code error;
            for (std::filesystem::directory_iterator entry(native_path(folder), error), end;
                 !error && entry != end; entry.increment(error)) {
                const std::string path = library_path(entry->path());
                listing->second.emplace(lower_ascii(path.substr(path.find_last_of("\\/") + 1)),
                                        path);
            }
        }
        const auto found = listing->second.find(wanted);
        if (found == listing->second.end()) continue;
        auto& file = files_[found->second];
        if (!file) file = read_module_file(found->second);
        if (file->problem.empty() && file->machine == machine_) return file.get();
    }
    return nullptr;
}

std::unique_ptr<ModuleFile> read_module_image(const std::string& path, img::ByteView file) {
    auto module = std::make_unique<ModuleFile>();
    module->path = path;
    const std::int32_t kind = image_kind(file);
    if (kind != KORVEX_IMAGE_PE) {
        module->problem = kind == KORVEX_MAP_NOT_MZ
                              ? map_failure(path, kind)
                              : std::string("is not a PE image (") + kind_name(kind) + ")";
        return module;
    }
    module->problem = pe_damage(file);
    const auto image = module->problem.empty() ? img::SectionMap::read(file) : std::nullopt;
    if (!image) {
        if (module->problem.empty()) module->problem = "is damaged: its PE headers are cut off";
        return module;
    }
    module->machine = image->layout().file_header.machine;
    std::size_t functions = 0;
    const char* outside = nullptr;
    if (!read_imports(*image, img::ImportTable::imports, *module, functions))
        outside = "import table";
    else if (!read_imports(*image, img::ImportTable::delay_imports, *module, functions))
        outside = "delay-import table";
    else if (!read_exports(*image, *module))
        outside = "export directory";
    if (outside != nullptr) {
        // The loader would stop at what is not there: the file cannot run.
        *module = ModuleFile{};
        module->path = path;
        module->problem = std::string("is damaged: its ") + outside + " reaches outside the file";
    }
    return module;
}

std::unique_ptr<ModuleFile> read_module_file(const std::string& path) {
    std::string problem = file_problem(path);
    FileView view;
    if (problem.empty() && view.open(path)) return read_module_image(path, view.bytes());
    auto module = std::make_unique<ModuleFile>();
    module->path = path;
    module->problem = problem.empty() ? "cannot be opened" : std::move(problem);
    return module;
}

}  // namespace korvex::host
