// libFuzzer target: the input is a whole file as MapFile would hold it. Runs
// both directory lookups, the module list, the function list of every listed
// module (up to a bound) and the export list, each as a size query and a
// fill, then the readers the host uses beside them (machine, whole export
// table, delay imports, API-set schema), and stops the run on anything a
// host could not rely on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "image/name_lists.h"
#include "image_readers/api_set_schema.h"
#include "image_readers/export_table.h"
#include "image_readers/import_tables.h"
#include "image_readers/pe_image.h"
#include "library_probes.h"
#include "name_list_call.h"
#include "unindexed_imports.h"

namespace {

using korvex::image::ByteView;
using korvex::test::ListCall;

// Function lists asked for per input: each walks the descriptors again.
constexpr std::size_t max_lookups = 16;

// What the lists learn of each input, as the held image's lists keep it.
constinit korvex::image::ListState g_lists{};

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "image_fuzz: %s\n", what);
    std::abort();
}

void require_sound(const ListCall& call, const char* what) {
    require(call.query == call.fill, what);
    require(call.guard_intact, what);
    require(!call.query_wrote, what);
    require(call.fill == 0 || (call.well_formed && call.fill >= 3), what);
}

bool same_answers(const ListCall& a, const ListCall& b) {
    return a.query == b.query && a.fill == b.fill && a.list == b.list;
}

void check_lookups(ByteView file) {
    for (const std::uint32_t index : {0u, 1u, 2u, 15u, 16u, 0xFFFFFFFFu}) {
        const auto* data = korvex::image::FindDirectoryData(file, index);
        const auto* section = korvex::image::FindDirectorySection(file, index);
        require((data == nullptr) == (section == nullptr), "lookups disagree");
        if (data == nullptr) continue;
        require(data >= file.data() && data < file.data() + file.size(), "data outside the file");
        require(section >= file.data() && section + 40 <= file.data() + file.size(),
                "section header outside the file");
    }
}

bool inside(ByteView file, const void* text, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(text);
    return length == 0 ||
           (bytes >= file.data() && length <= file.size() &&
            bytes - file.data() <= static_cast<std::ptrdiff_t>(file.size() - length));
}

// Reads every part the readers reach; each step must stay in the file and
// every walk must end within the steps the file's size allows.
void check_readers(ByteView file) {
    const auto image = korvex::image::PeImage::parse(file);
    if (!image.placed()) return;
    korvex::image::machine_name(image.layout().file_header.machine);

    if (const auto table = korvex::image::read_export_table(image)) {
        require(inside(file, table->module_name.data(), table->module_name.size()),
                "export module name");
        korvex::image::ExportNameWalk names(image, *table);
        std::size_t count = 0;
        while (const auto name = names.next()) {
            require(inside(file, name->name.data(), name->name.size() + 1),
                    "export name outside the file");
            require(++count <= file.size() / 4, "more export names than pointers fit");
        }
        for (std::uint32_t slot = 0; slot < 64; ++slot) {
            const auto target = korvex::image::export_target(image, *table, slot);
            require(target.kind != korvex::image::ExportTarget::Kind::forwarder ||
                        inside(file, target.forwarder.data(), target.forwarder.size() + 1),
                    "forwarder outside the file");
        }
    }

    for (const auto table :
         {korvex::image::ImportTable::imports, korvex::image::ImportTable::delay_imports}) {
        korvex::image::ImportModuleWalk modules(image, table);
        std::size_t module_count = 0, function_count = 0;
        while (const auto module = modules.next()) {
            require(inside(file, module->name.data(), module->name.size() + 1), "module name");
            // Sections may map the same bytes at several addresses, so the
            // descriptors the walk meets can outnumber those the file holds
            // once, but never those of the headers and every section each
            // holding the whole file.
            require(++module_count <=
                        (image.layout().file_header.section_count + 1u) * (file.size() / 20),
                    "more descriptors than fit");
            if (module_count > max_lookups) continue;
            korvex::image::ImportFunctionWalk functions(image, *module);
            while (const auto function = functions.next()) {
                require(
                    function->by_ordinal || inside(file, function->name, function->name_length + 1),
                    "function name");
                // A table runs through mapped data only: the headers and
                // the sections, each of which may map the whole file again.
                require(++function_count <= max_lookups *
                                                (1 + korvex::image::PeImage::max_sections) *
                                                (file.size() / 4),
                        "lookup table longer than the image maps");
            }
        }
    }

    if (const auto schema = korvex::image::read_api_set_schema(image)) {
        require(schema->count <= file.size() / 24, "more API sets than fit");
        for (std::uint32_t i = 0; i < schema->count && i < 256; ++i) {
            const auto entry = korvex::image::api_set_entry(*schema, i);
            if (!entry) continue;
            require(inside(file, entry->name.bytes, entry->name.length), "API-set name");
            for (std::uint32_t v = 0; v < entry->value_count && v < 8; ++v)
                if (const auto value = korvex::image::api_set_value(*schema, *entry, v))
                    require(inside(file, value->host.bytes, value->host.length), "API-set host");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView file{data, size};
    check_lookups(file);

    const ListCall modules = korvex::test::call_list(
        [&](char* buffer) { return korvex::image::list_imported_modules(file, g_lists, buffer); });
    require_sound(modules, "module list");
    // What the lists keep and the module index change no answer.
    require(same_answers(modules, korvex::test::call_list([&](char* buffer) {
                             return korvex::test::list_modules_walked(file, buffer);
                         })),
            "module list not the walk's");
    // Every descriptor takes 20 bytes of the file.
    require(modules.entries.size() <= size / 20, "more modules than descriptors fit");

    const auto walked_functions = [&](char* request) {
        return korvex::test::list_functions_walked(file, request);
    };
    std::set<std::string> asked;
    for (const auto& name : modules.entries) {
        if (asked.size() == max_lookups) break;
        if (!asked.insert(name).second) continue;
        const ListCall functions = korvex::test::call_module_list(
            [&](char* request) {
                return korvex::image::list_imported_functions(file, g_lists, request);
            },
            name);
        require_sound(functions, "function list");
        require(same_answers(functions, korvex::test::call_module_list(walked_functions, name)),
                "function list not the walk's");
        // A listed module is found: an empty list writes its NUL.
        require(functions.fill != 0 || (functions.fill_wrote && functions.list[0] == 0),
                "listed module not found");
    }

    const ListCall exports = korvex::test::call_list(
        [&](char* buffer) { return korvex::image::list_exported_names(file, g_lists, buffer); });
    require_sound(exports, "export list");
    require(static_cast<std::size_t>(exports.fill) <= size + 1, "export list longer than the file");

    korvex::image::forget_image(g_lists);

    check_readers(file);
    return 0;
}
