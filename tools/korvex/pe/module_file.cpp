#include "pe/module_file.h"

#include <filesystem>
#include <new>
#include <system_error>

#include "core/files.h"
#include "core/host_os.h"
#include "core/text.h"
#include "image_readers/export_table.h"
#include "image_readers/import_tables.h"
#include "image_readers/pe_image.h"
#include "korvex32.h"
#include "pe/file_view.h"
#include "pe/image_diagnosis.h"
#include "pe/input_budget.h"
#include "pe/resource_tree.h"

namespace korvex::host {

namespace {

namespace img = korvex::image;

// Ordinals are 16-bit, so no import can reach a later address-table slot.
constexpr std::uint32_t max_export_slots = 0x10000;

// Why a reading stopped: the first limit passed, or damage.
struct Reading {
    const img::PeImage& image;
    ModuleFile& module;
    InputBudget budget;
    std::size_t functions = 0;
    std::string stop;  // empty while the file reads
    bool limit = false;

    bool refuse(std::string why) {
        if (stop.empty()) stop = std::move(why), limit = true;
        return false;
    }
    bool charge(std::uint64_t bytes) {
        return budget.take(bytes) || refuse(InputBudget::refusal(image.file().size()));
    }
    bool charge_name(std::size_t length) {
        return budget.take_string(length) || refuse(InputBudget::refusal(image.file().size()));
    }
};

// The modules of one import table and their functions. False when the walk
// stopped at something outside the file's data or at a limit.
bool read_imports(Reading& reading, img::ImportTable table) {
    img::ImportModuleWalk modules(reading.image, table);
    std::size_t count = 0;
    const bool delay = table == img::ImportTable::delay_imports;
    while (const auto entry = modules.next()) {
        if (++count > max_modules_per_file)
            return reading.refuse(
                too_many(delay ? "its delay-load imports name" : "its imports name",
                         max_modules_per_file, "modules"));
        if (!reading.charge(2 * wide_size<ModuleImport, 64>()) ||
            !reading.charge_name(entry->name.size()))
            return false;
        ModuleImport import{std::string(entry->name), {}, delay};
        img::ImportFunctionWalk walk(reading.image, *entry);
        while (const auto function = walk.next()) {
            if (++reading.functions > max_functions_per_file)
                return reading.refuse(too_many("it imports", max_functions_per_file, "functions"));
            // Twice the entry: a list grows by doubling.
            if (!reading.charge(2 * wide_size<ImportedFunction, 72>()) ||
                (!function->by_ordinal && !reading.charge_name(function->name_length)))
                return false;
            if (function->by_ordinal)
                import.functions.push_back({{}, function->ordinal});
            else
                import.functions.push_back(
                    {std::string(reinterpret_cast<const char*>(function->name),
                                 function->name_length),
                     std::nullopt});
        }
        reading.module.imports.push_back(std::move(import));
        if (walk.name_too_long())
            return reading.refuse(name_too_long(delay ? "a delay-load import's name"
                                                      : "an imported function's name"));
        if (walk.ended_outside()) return false;
    }
    if (modules.name_too_long())
        return reading.refuse(
            name_too_long(delay ? "a delay-load module's name" : "a module's name"));
    return !modules.ended_outside();
}

// False when the image names an export directory that is not in its data,
// or passes a limit.
bool read_exports(Reading& reading) {
    const img::PeImage& image = reading.image;
    ModuleFile& module = reading.module;
    const auto table = img::read_export_table(image);
    if (!table) {
        const auto directory = image.directory(img::export_directory);
        return !directory || directory->rva == 0;
    }
    module.ordinal_base = table->ordinal_base;
    const std::uint32_t slots = std::min(table->function_count, max_export_slots);
    if (!reading.charge(slots / 8)) return false;
    module.code_slots.assign(slots, false);
    for (std::uint32_t slot = 0; slot < slots; ++slot) {
        const auto target = img::export_target(image, *table, slot);
        if (target.too_long) return reading.refuse(name_too_long("a forwarder"));
        if (target.kind == img::ExportTarget::Kind::code) module.code_slots[slot] = true;
        if (target.kind != img::ExportTarget::Kind::forwarder) continue;
        if (!reading.charge(InputBudget::node_overhead + sizeof(std::uint32_t)) ||
            !reading.charge_name(target.forwarder.size()))
            return false;
        module.forwarders.emplace(slot, std::string(target.forwarder));
    }
    img::ExportNameWalk names(image, *table);
    std::size_t count = 0;
    while (const auto name = names.next()) {
        if (++count > max_functions_per_file)
            return reading.refuse(
                too_many("its export table names", max_functions_per_file, "functions"));
        // The loader finds the first of two equal names.
        if (module.export_slots.contains(name->name)) continue;
        if (!reading.charge(InputBudget::node_overhead + sizeof(std::uint32_t)) ||
            !reading.charge_name(name->name.size()))
            return false;
        module.export_slots.emplace(std::string(name->name), name->slot);
    }
    if (names.name_too_long()) return reading.refuse(name_too_long("an exported name"));
    return true;
}

// A damaged resource tree or manifest does not stop the image from loading
// (only a program's own manifest stops it from starting, which the resolver
// says): what reads is kept.
void read_manifests(const img::PeImage& image, ModuleFile& module) {
    const ResourceFind resources = find_resources(image);
    if (resources.manifests.empty()) return;
    if (auto facts = read_manifest_resource(image, resources, 1))
        module.manifest_1 = std::make_shared<const ManifestFacts>(std::move(*facts));
    if (auto facts = read_manifest_resource(image, resources, 2))
        module.manifest_2 = std::make_shared<const ManifestFacts>(std::move(*facts));
}

ExportLookup lookup_slot(const ModuleFile& module, std::uint32_t slot) {
    if (const auto forwarder = module.forwarders.find(slot); forwarder != module.forwarders.end())
        return {ExportLookup::Kind::forwarder, forwarder->second};
    if (slot < module.code_slots.size() && module.code_slots[slot])
        return {ExportLookup::Kind::code, {}};
    return {};
}

}  // namespace

ExportLookup ModuleFile::find_export(std::string_view name) const {
    const auto found = export_slots.find(name);
    return found == export_slots.end() ? ExportLookup{} : lookup_slot(*this, found->second);
}

ExportLookup ModuleFile::find_export(std::uint16_t ordinal) const {
    if (ordinal < ordinal_base) return {};
    return lookup_slot(*this, ordinal - ordinal_base);
}

std::string ModuleFile::name_of(std::uint16_t ordinal) const {
    if (ordinal < ordinal_base) return {};
    const std::string* name = slot_names.find(export_slots, ordinal - ordinal_base);
    return name == nullptr ? std::string() : *name;
}

bool wine_build_mark(img::ByteView file) {
    // The mark stands right after the 64-byte MZ header, where the DOS
    // stub's code would begin.
    constexpr std::uint64_t mark_at = 0x40;
    for (const std::string_view mark : {"Wine builtin DLL", "Wine placeholder DLL"}) {
        const auto* bytes = file.at(mark_at, mark.size());
        if (bytes != nullptr &&
            std::string_view(reinterpret_cast<const char*>(bytes), mark.size()) == mark)
            return true;
    }
    return false;
}

std::unique_ptr<ModuleFile> read_module_image(const std::string& path, img::ByteView file) {
    return read_module_image(path, img::PeImage::parse(file));
}

std::unique_ptr<ModuleFile> read_module_image(const std::string& path, const img::PeImage& image) {
    const img::ByteView file = image.file();
    auto module = std::make_unique<ModuleFile>();
    module->path = path;
    module->size = file.size();
    const std::int32_t kind = image_kind(file);
    if (kind != KORVEX_IMAGE_PE) {
        module->problem = kind == KORVEX_MAP_NOT_MZ
                              ? map_failure(path, kind)
                              : std::string("is not a PE image (") + kind_name(kind) + ")";
        return module;
    }
    module->problem = pe_damage(image.check());
    if (module->problem.empty() && !image.placed())
        module->problem = "is damaged: its PE headers are cut off";
    if (!module->problem.empty()) return module;
    module->machine = image.layout().file_header.machine;
    module->wine_build = wine_build_mark(file);
    Reading reading{image, *module, InputBudget(file.size()), 0, {}, false};
    const char* outside = nullptr;
    try {
        if (!read_imports(reading, img::ImportTable::imports))
            outside = "import table";
        else if (!read_imports(reading, img::ImportTable::delay_imports))
            outside = "delay-import table";
        else if (!read_exports(reading))
            outside = "export directory";
        else
            read_manifests(image, *module);
    } catch (const std::bad_alloc&) {
        reading.refuse("could not be read: korvex ran out of memory on it");
    }
    if (outside != nullptr || reading.limit) {
        // The loader would stop at what is not there: the file cannot run.
        const bool limit = reading.limit;
        std::string stop = std::move(reading.stop);
        *module = ModuleFile{};
        module->path = path;
        module->size = file.size();
        module->limit_passed = limit;
        module->problem =
            limit ? std::move(stop)
                  : std::string("is damaged: its ") + outside + " reaches outside the file";
    }
    return module;
}

std::unique_ptr<ModuleFile> read_module_file(const std::string& path) {
    std::string problem = file_problem(path);
    FileView view;
    if (problem.empty() && view.open(path)) {
        auto module = read_module_image(path, view.bytes());
        module->identity = view.identity();
        return module;
    }
    auto module = std::make_unique<ModuleFile>();
    module->path = path;
    module->problem = problem.empty() ? "cannot be opened" : std::move(problem);
    return module;
}

}  // namespace korvex::host
