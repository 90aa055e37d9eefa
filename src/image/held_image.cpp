#include "image/held_image.h"

#include "image/directory_lookup.h"
#include "image/module_index.h"
#include "korvex32.h"
#include "os/files.h"

namespace korvex::image {

namespace {

constinit os::MappedFile g_held{};
// MapFile hands a failed mapping's result on as its own answer.
constexpr bool same_code(os::MapResult result, std::int32_t code) {
    return static_cast<std::int32_t>(result) == code;
}
static_assert(same_code(os::MapResult::open_failed, KORVEX_MAP_OPEN_FAILED));
static_assert(same_code(os::MapResult::mapping_failed, KORVEX_MAP_MAPPING_FAILED));
static_assert(same_code(os::MapResult::view_failed, KORVEX_MAP_VIEW_FAILED));

}  // namespace

ByteView held_image() noexcept { return ByteView{g_held}; }

void release_held_image() noexcept {
    held_module_index().reset();
    os::release_mapped_file(g_held);
}

std::int32_t hold_image(const char* path) noexcept {
    // A file still held would otherwise stay open and mapped for good; its
    // modules are no longer the held image's.
    release_held_image();

    if (path == nullptr) return KORVEX_MAP_OPEN_FAILED;
    const auto mapped = os::map_file_readonly(path, g_held);
    if (mapped != os::MapResult::mapped) return static_cast<std::int32_t>(mapped);

    const ByteView file{g_held};
    const auto magic = file.u16(0);
    if (!magic || *magic != KORVEX_IMAGE_MZ) {
        os::release_mapped_file(g_held);
        return KORVEX_MAP_NOT_MZ;
    }
    const std::int32_t kind = classify_image(file);
    if (kind != KORVEX_IMAGE_PE) os::release_mapped_file(g_held);
    return kind;
}

}  // namespace korvex::image
