#include "image_readers/export_table.h"

#include "image/directory_lookup.h"

namespace korvex::image {

namespace {
namespace field = export_directory_layout;

// Element `index` of a 4- or 2-byte array at `array_rva`; the element's RVA
// is taken in 64 bits so that a huge index is simply not there.
std::optional<std::uint64_t> element_offset(const PeImage& image, std::uint32_t array_rva,
                                            std::uint32_t index, std::uint32_t width) {
    const std::uint64_t rva = std::uint64_t{array_rva} + std::uint64_t{index} * width;
    if (rva > 0xFFFFFFFFu) return std::nullopt;
    return image.offset_of(static_cast<std::uint32_t>(rva), width);
}
}  // namespace

std::optional<ExportTable> read_export_table(const PeImage& image) noexcept {
    const auto directory = image.directory(export_directory);
    if (!directory || directory->rva == 0) return std::nullopt;
    const auto at = image.offset_of(directory->rva, field::size);
    if (!at) return std::nullopt;
    const ByteView file = image.file();
    ExportTable table;
    table.directory = *directory;
    table.module_name =
        image.string_at(*file.u32(*at + field::name_at)).value_or(std::string_view{});
    table.ordinal_base = *file.u32(*at + field::base_at);
    table.function_count = *file.u32(*at + field::number_of_functions_at);
    table.name_count = *file.u32(*at + field::number_of_names_at);
    table.functions = *file.u32(*at + field::address_of_functions_at);
    table.names = *file.u32(*at + field::address_of_names_at);
    table.name_ordinals = *file.u32(*at + field::address_of_name_ordinals_at);
    return table;
}

std::optional<ExportedName> ExportNameWalk::next() noexcept {
    if (ended_ || index_ >= table_.name_count) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const ByteView file = image_.file();
    const auto name_pointer = element_offset(image_, table_.names, index_, 4);
    const auto ordinal = element_offset(image_, table_.name_ordinals, index_, 2);
    if (!name_pointer || !ordinal) return std::nullopt;
    const std::uint32_t name_rva = *file.u32(*name_pointer);
    const auto name = image_.string_at(name_rva);
    if (!name) {
        name_too_long_ = image_.string_too_long(name_rva);
        return std::nullopt;
    }
    ++index_;
    ended_ = false;
    return ExportedName{*name, *file.u16(*ordinal)};
}

ExportTarget export_target(const PeImage& image, const ExportTable& table,
                           std::uint32_t slot) noexcept {
    if (slot >= table.function_count) return {};
    const auto at = element_offset(image, table.functions, slot, 4);
    if (!at) return {};
    const std::uint32_t rva = *image.file().u32(*at);
    if (rva == 0) return {};
    const bool inside_directory =
        rva >= table.directory.rva && rva - table.directory.rva < table.directory.size;
    if (!inside_directory) return {ExportTarget::Kind::code, {}};
    const auto forwarder = image.string_at(rva);
    if (!forwarder) return {ExportTarget::Kind::none, {}, image.string_too_long(rva)};
    return {ExportTarget::Kind::forwarder, *forwarder};
}

}  // namespace korvex::image
