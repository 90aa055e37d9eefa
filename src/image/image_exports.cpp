// MapFile and UnmapFile, which hold one executable, and the three name-list
// exports, which read it: with nothing held they answer 0 without reading
// anything.
#include "image/held_image.h"
#include "image/name_lists.h"
#include "korvex32.h"

namespace image = korvex::image;

extern "C" int32_t KORVEX_API UnmapFile(int32_t /*ignored*/) {
    image::release_image(image::held_image());
    return 0;
}

extern "C" int32_t KORVEX_API MapFile(const char* path) {
    return image::hold_image(image::held_image(), path);
}

extern "C" int32_t KORVEX_API GetImportModuleNamesPE(char* buffer) {
    image::HeldImage& held = image::held_image();
    const auto file = held.view();
    return file.empty() ? 0 : image::list_imported_modules(file, held.lists, buffer);
}

extern "C" int32_t KORVEX_API GetExportFunctionNamesPE(char* buffer) {
    image::HeldImage& held = image::held_image();
    const auto file = held.view();
    return file.empty() ? 0 : image::list_exported_names(file, held.lists, buffer);
}

extern "C" int32_t KORVEX_API GetImportFuncNamesByModulePE(char* buffer) {
    image::HeldImage& held = image::held_image();
    const auto file = held.view();
    return file.empty() ? 0 : image::list_imported_functions(file, held.lists, buffer);
}
