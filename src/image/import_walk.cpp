#include "image/import_walk.h"

#include "image/name_list_writer.h"

namespace korvex::image {

namespace {
namespace field = import_descriptor_layout;
}  // namespace

std::optional<ImportedModule> ModuleWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const std::uint64_t descriptor = next_;
    if (!file_.contains(descriptor, field::size)) return std::nullopt;
    const std::uint32_t name_rva = *file_.u32(descriptor + field::name_at);
    if (name_rva == 0) return std::nullopt;
    const auto name = section_.file_offset(file_, name_rva);
    if (!name) return std::nullopt;
    const auto length = file_.string_length(*name);
    if (!length || !fits_in_name_list(listed_, std::uint64_t{*length} + 1)) return std::nullopt;

    listed_ += *length + 1;
    next_ = descriptor + field::size;
    ended_ = false;
    return ImportedModule{file_.at(*name, *length + 1), *length,
                          *file_.u32(descriptor + field::original_first_thunk_at)};
}

}  // namespace korvex::image
