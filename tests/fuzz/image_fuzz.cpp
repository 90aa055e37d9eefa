// libFuzzer target: the input is a whole file as MapFile would hold it. Runs
// both directory lookups, the module list, the function list of every listed
// module (up to a bound) and the export list, each as a size query and a
// fill, and stops the run on anything a host could not rely on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "image/name_lists.h"
#include "name_list_call.h"

namespace {

using korvex::image::ByteView;
using korvex::test::ListCall;

// Function lists asked for per input: each walks the descriptors again.
constexpr std::size_t max_lookups = 16;

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

void check_lookups(ByteView file) {
    for (const std::uint32_t index : {0u, 1u, 2u, 15u, 16u, 0xFFFFFFFFu}) {
        const auto* data = korvex::image::find_directory_data(file, index);
        const auto* section = korvex::image::find_directory_section(file, index);
        require((data == nullptr) == (section == nullptr), "lookups disagree");
        if (data == nullptr) continue;
        require(data >= file.data() && data < file.data() + file.size(), "data outside the file");
        require(section >= file.data() && section + 40 <= file.data() + file.size(),
                "section header outside the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView file{data, size};
    check_lookups(file);

    const ListCall modules = korvex::test::call_list(
        [&](char* buffer) { return korvex::image::list_imported_modules(file, buffer); });
    require_sound(modules, "module list");
    // Every descriptor takes 20 bytes of the file.
    require(modules.entries.size() <= size / 20, "more modules than descriptors fit");

    std::set<std::string> asked;
    for (const auto& name : modules.entries) {
        if (asked.size() == max_lookups) break;
        if (!asked.insert(name).second) continue;
        const ListCall functions = korvex::test::call_module_list(
            [&](char* request) { return korvex::image::list_imported_functions(file, request); }, name);
        require_sound(functions, "function list");
        // A listed module is found: an empty list writes its NUL.
        require(functions.fill != 0 || (functions.fill_wrote && functions.list[0] == 0),
                "listed module not found");
    }

    const ListCall exports = korvex::test::call_list(
        [&](char* buffer) { return korvex::image::list_exported_names(file, buffer); });
    require_sound(exports, "export list");
    require(static_cast<std::size_t>(exports.fill) <= size + 1, "export list longer than the file");
    return 0;
}
