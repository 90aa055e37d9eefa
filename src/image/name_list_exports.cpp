// The three name-list exports: each reads the held image, and with nothing
// held answers 0 without reading anything.
#include "image/mapped_image.h"
#include "image/name_lists.h"
#include "korvex32.h"

using korvex::image::held_image;

extern "C" int32_t KORVEX_API GetImportModuleNamesPE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_imported_modules(file, buffer);
}

extern "C" int32_t KORVEX_API GetExportFunctionNamesPE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_exported_names(file, buffer);
}

extern "C" int32_t KORVEX_API GetImportFuncNamesByModulePE(char* buffer) {
    const auto file = held_image();
    return file.empty() ? 0 : korvex::image::list_held_imported_functions(file, buffer);
}
