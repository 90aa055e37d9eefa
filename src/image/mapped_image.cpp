#include "image/mapped_image.h"

#include "image/classify.h"
#include "image/module_index.h"
#include "korvex32.h"
#include "os/file_map.h"

namespace korvex::image {

namespace {
constinit os::MappedFile g_held{};
}

ByteView held_image() noexcept { return ByteView{g_held}; }

}  // namespace korvex::image

using korvex::image::g_held;

extern "C" int32_t KORVEX_API UnmapFile(int32_t /*ignored*/) {
    korvex::image::held_module_index().reset();
    korvex::os::release_mapped_file(g_held);
    return 0;
}

extern "C" int32_t KORVEX_API MapFile(const char* path) {
    // A file still held would otherwise stay open and mapped for good; its
    // modules are no longer the held image's.
    korvex::image::held_module_index().reset();
    korvex::os::release_mapped_file(g_held);

    if (path == nullptr) return KORVEX_MAP_OPEN_FAILED;
    const auto mapped = korvex::os::map_file_readonly(path, g_held);
    if (mapped != korvex::os::MapResult::mapped) return static_cast<int32_t>(mapped);

    const korvex::image::ByteView file{g_held};
    const auto magic = file.u16(0);
    if (!magic || *magic != KORVEX_IMAGE_MZ) {
        korvex::os::release_mapped_file(g_held);
        return KORVEX_MAP_NOT_MZ;
    }
    const int32_t kind = korvex::image::classify_image(file);
    if (kind != KORVEX_IMAGE_PE) korvex::os::release_mapped_file(g_held);
    return kind;
}
