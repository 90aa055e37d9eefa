#include <cstring>
#include <optional>

#include "image/directory_lookup.h"
#include "image/import_walk.h"
#include "image/module_index.h"
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

namespace {

// The first listed module of the name at request + 1, walking the
// descriptors from the first.
std::optional<ImportedModule> walk_to_module(ByteView file, const DirectoryLocation& imports,
                                             const char* wanted, std::size_t wanted_length) noexcept {
    ModuleWalk modules(file, imports);
    while (const auto module = modules.next()) {
        if (module->name_length == wanted_length &&
            std::memcmp(module->name, wanted, wanted_length) == 0)
            return module;
    }
    return std::nullopt;
}

// The function list of `module` into `request`, or only its size.
std::int32_t list_functions_of(ByteView file, const DirectoryLocation& imports,
                               const ImportedModule& module, char* request) noexcept {
    // The fill overwrites the request, which is no longer needed.
    NameListWriter list(request[0] == size_query_mode ? nullptr : request);
    FunctionWalk functions(file, imports, module.lookup_table);
    while (const auto function = functions.next()) {
        const bool appended = function->by_ordinal
                                  ? list.append_ordinal(function->ordinal)
                                  : list.append(function->name, function->name_length);
        if (!appended) break;
    }
    return list.finish();
}

}  // namespace

std::int32_t list_imported_functions(ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;
    const char* wanted = request + 1;
    const auto module = walk_to_module(file, *imports, wanted, std::strlen(wanted));
    return module ? list_functions_of(file, *imports, *module, request) : 0;
}

std::int32_t list_held_imported_functions(ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;
    const char* wanted = request + 1;
    const auto module = held_module_index().find(file, *imports, wanted, std::strlen(wanted));
    return module ? list_functions_of(file, *imports, *module, request) : 0;
}

}  // namespace korvex::image
