#include <cstring>
#include <optional>

#include "image/directory_lookup.h"
#include "image/import_walk.h"
#include "image/name_list.h"
#include "image/name_lists.h"

namespace korvex::image {

namespace {

constexpr char size_query_mode = '0';

}  // namespace

std::int32_t list_imported_modules(ByteView file, char* buffer) noexcept {
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;
    NameListWriter list(buffer);
    ModuleWalk modules(file, *imports);
    // The walk stops before a name that would not fit, so every append does.
    while (const auto module = modules.next()) list.append(module->name, module->name_length);
    return list.finish();
}

std::int32_t list_imported_functions(ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;

    // One walk of the descriptors: the first listed module of that name.
    const char* wanted = request + 1;
    const std::size_t wanted_length = std::strlen(wanted);
    ModuleWalk modules(file, *imports);
    std::optional<ImportedModule> found;
    while (const auto module = modules.next()) {
        if (module->name_length == wanted_length &&
            std::memcmp(module->name, wanted, wanted_length) == 0) {
            found = module;
            break;
        }
    }
    if (!found) return 0;

    // The fill overwrites the request, which is no longer needed.
    NameListWriter list(request[0] == size_query_mode ? nullptr : request);
    FunctionWalk functions(file, *imports, found->lookup_table);
    while (const auto function = functions.next()) {
        const bool appended = function->by_ordinal
                                  ? list.append_ordinal(function->ordinal)
                                  : list.append(function->name, function->name_length);
        if (!appended) break;
    }
    return list.finish();
}

}  // namespace korvex::image
