// The import lists found the plain way: the module list by one walk of the
// descriptors, and every function list by a walk from the first descriptor
// to the module it names, keeping nothing between calls. They answer exactly
// what the library's lists answer with their module index and what they
// keep, so tests and the benchmarks hold those against these. Header-only
// for the fuzz targets.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/import_walk.h"
#include "image/name_list_writer.h"

namespace korvex::test {

inline std::int32_t list_modules_walked(image::ByteView file, char* buffer) noexcept {
    const auto imports = image::find_directory(file, image::import_directory);
    if (!imports) return 0;
    image::NameListWriter list(buffer);
    image::ModuleWalk modules(file, *imports);
    while (const auto module = modules.next()) list.append(module->name, module->name_length);
    return list.finish();
}

inline std::int32_t list_functions_walked(image::ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = image::find_directory(file, image::import_directory);
    if (!imports) return 0;
    const std::size_t wanted_length = std::strlen(request + 1);
    image::ModuleWalk modules(file, *imports);
    while (const auto module = modules.next()) {
        if (module->name_length != wanted_length ||
            std::memcmp(module->name, request + 1, wanted_length) != 0)
            continue;
        // The fill overwrites the request, which is no longer needed.
        image::NameListWriter list(request[0] == '0' ? nullptr : request);
        if (const auto table = image::lookup_table_at(file, *imports, *module)) {
            image::walk_lookup_table(
                file, *imports, *table, image::no_stop,
                [&list](const image::ImportedFunction& function) {
                    return function.by_ordinal ? list.append_ordinal(function.ordinal)
                                               : list.append(function.name, function.name_length);
                });
        }
        return list.finish();
    }
    return 0;
}

}  // namespace korvex::test
