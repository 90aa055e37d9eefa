#include "image/held_image.h"

#include "image/directory_lookup.h"
#include "korvex32.h"

namespace korvex::image {

namespace {

constinit HeldImage g_held{};

// MapFile hands a failed mapping's result on as its own answer.
constexpr bool same_code(os::MapResult result, std::int32_t code) {
    return static_cast<std::int32_t>(result) == code;
}
static_assert(same_code(os::MapResult::open_failed, KORVEX_MAP_OPEN_FAILED));
static_assert(same_code(os::MapResult::mapping_failed, KORVEX_MAP_MAPPING_FAILED));
static_assert(same_code(os::MapResult::view_failed, KORVEX_MAP_VIEW_FAILED));

}  // namespace

HeldImage& held_image() noexcept { return g_held; }

void release_image(HeldImage& held) noexcept {
    forget_image(held.lists);
    os::release_mapped_file(held.file);
}

void release_image_at_unload() noexcept {
    forget_image(g_held.lists);
    os::release_copy_keep_file(g_held.file);
}

std::int32_t hold_image(HeldImage& held, const char* path) noexcept {
    // A file still held would otherwise stay open and mapped for good.
    release_image(held);

    if (path == nullptr) return KORVEX_MAP_OPEN_FAILED;
    const auto mapped = os::map_file_readonly(path, held.file);
    if (mapped != os::MapResult::mapped) return static_cast<std::int32_t>(mapped);

    const ByteView file = held.view();
    const auto magic = file.u16(0);
    if (!magic || *magic != KORVEX_IMAGE_MZ) {
        os::release_mapped_file(held.file);
        return KORVEX_MAP_NOT_MZ;
    }
    const std::int32_t kind = ClassifyImage(file);
    if (kind != KORVEX_IMAGE_PE) os::release_mapped_file(held.file);
    return kind;
}

}  // namespace korvex::image
