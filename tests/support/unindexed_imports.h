// The imported-function list found the plain way: every request walks the
// descriptors from the first to the module it names. It answers exactly what
// the library's indexed lookup answers, so tests, the fuzzer and the
// benchmarks hold the index against it. Header-only for the fuzz targets.
#pragma once

#include <cstdint>
#include <cstring>

#include "image/name_lists.h"

namespace korvex::test {

inline std::int32_t list_imported_functions(image::ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = image::find_directory(file, image::import_directory);
    if (!imports) return 0;
    const std::size_t wanted_length = std::strlen(request + 1);
    image::ModuleWalk modules(file, *imports);
    while (const auto module = modules.next()) {
        if (module->name_length == wanted_length &&
            std::memcmp(module->name, request + 1, wanted_length) == 0)
            return image::list_module_functions(file, *imports, *module, request);
    }
    return 0;
}

}  // namespace korvex::test
