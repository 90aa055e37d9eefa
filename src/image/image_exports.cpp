// MapFile and UnmapFile, which hold one executable, and the three name-list
// exports, which read it: with nothing held they answer 0 without reading
// anything.
#include "image/held_image.h"
#include "image/name_lists.h"
#include "korvex32.h"

using korvex::image::held_image;

extern "C" int32_t KORVEX_API UnmapFile(int32_t /*ignored*/) {
    korvex::image::forget_held_lists();
    korvex::image::release_held_image();
    return 0;
}

extern "C" int32_t KORVEX_API MapFile(const char* path) {
    korvex::image::forget_held_lists();
    return korvex::image::hold_image(path);
}

extern "C" int32_t KORVEX_API GetImportModuleNamesPE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_held_imported_modules(file, buffer);
}

extern "C" int32_t KORVEX_API GetExportFunctionNamesPE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_held_exported_names(file, buffer);
}

extern "C" int32_t KORVEX_API GetImportFuncNamesByModulePE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_held_imported_functions(file, buffer);
}
