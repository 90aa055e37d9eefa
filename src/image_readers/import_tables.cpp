#include "image_readers/import_tables.h"

namespace korvex::image {

namespace {

struct DescriptorLayout {
    std::uint32_t size;
    std::uint32_t directory;
    std::uint64_t name_at;
    std::uint64_t lookup_table_at;  // OriginalFirstThunk; the delay import name table
};

constexpr DescriptorLayout import_descriptor{
    static_cast<std::uint32_t>(import_descriptor_layout::size), import_directory,
    import_descriptor_layout::name_at, import_descriptor_layout::original_first_thunk_at};
using import_descriptor_layout::first_thunk_at;
constexpr DescriptorLayout delay_descriptor{32, delay_import_directory, 4, 16};
constexpr std::uint64_t attributes_at = 0;
constexpr std::uint32_t rva_based = 1;

const DescriptorLayout& layout_of(ImportTable table) {
    return table == ImportTable::imports ? import_descriptor : delay_descriptor;
}

// An address of an old delay descriptor as an RVA; 0 (not there) when it
// lies below ImageBase or beyond 4 GiB above it.
std::uint32_t to_rva(const PeImage& image, std::uint64_t value, bool virtual_address) {
    if (!virtual_address) return static_cast<std::uint32_t>(value);
    const std::uint64_t base = image.layout().image_base;
    if (value < base || value - base > 0xFFFFFFFFu) return 0;
    return static_cast<std::uint32_t>(value - base);
}

// A position the walk cannot read is recorded by its RVA; an RVA of 0 (a
// descriptor field that names nothing) is recorded as 1, so that it still
// counts as a stop outside the file.
std::uint32_t outside(std::uint32_t rva) { return rva == 0 ? 1 : rva; }

}  // namespace

ImportModuleWalk::ImportModuleWalk(const PeImage& image, ImportTable table) noexcept
    : image_(image), table_(table) {
    const auto directory = image.directory(layout_of(table).directory);
    if (directory && directory->rva != 0) {
        next_rva_ = directory->rva;
    } else {
        ended_ = true;
    }
}

std::optional<ImportTableModule> ImportModuleWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const DescriptorLayout& layout = layout_of(table_);
    const auto at = image_.offset_of(next_rva_, layout.size);
    if (!at || next_rva_ > 0xFFFFFFFFu - layout.size) {
        outside_rva_ = outside(next_rva_);
        return std::nullopt;
    }
    const ByteView file = image_.file();
    const std::uint32_t name_field = *file.u32(*at + layout.name_at);
    std::uint32_t lookup_table = *file.u32(*at + layout.lookup_table_at);
    bool virtual_addresses = false;
    if (table_ == ImportTable::imports) {
        const std::uint32_t first_thunk = *file.u32(*at + first_thunk_at);
        if (name_field == 0 || first_thunk == 0) return std::nullopt;
        if (lookup_table == 0) lookup_table = first_thunk;
    } else {
        if (name_field == 0) return std::nullopt;
        virtual_addresses = (*file.u32(*at + attributes_at) & rva_based) == 0;
        lookup_table = to_rva(image_, lookup_table, virtual_addresses);
    }
    const std::uint32_t name_rva = to_rva(image_, name_field, virtual_addresses);
    const auto name = name_rva == 0 ? std::nullopt : image_.string_at(name_rva);
    if (!name) {
        outside_rva_ = outside(name_rva);
        name_too_long_ = name_rva != 0 && image_.string_too_long(name_rva);
        return std::nullopt;
    }
    next_rva_ += layout.size;
    ended_ = false;
    return ImportTableModule{*name, lookup_table, virtual_addresses};
}

ImportFunctionWalk::ImportFunctionWalk(const PeImage& image,
                                       const ImportTableModule& module) noexcept
    : image_(image),
      next_rva_(module.lookup_table),
      virtual_addresses_(module.virtual_addresses),
      ended_(module.lookup_table == 0) {}

std::optional<ImportedFunction> ImportFunctionWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const bool wide = image_.layout().format == PeFormat::pe32_plus;
    const std::uint32_t entry_size = wide ? 8 : 4;
    const auto at = image_.offset_of(next_rva_, entry_size);
    if (!at || next_rva_ > 0xFFFFFFFFu - entry_size) {
        outside_rva_ = outside(next_rva_);
        return std::nullopt;
    }
    const ByteView file = image_.file();
    const std::uint64_t raw = wide ? *file.u64(*at) : *file.u32(*at);
    if (raw == 0) return std::nullopt;

    ImportedFunction function;
    // An old delay descriptor's entries are addresses: the ordinal flag is
    // tested on the entry as stored, the address made an RVA afterwards.
    const LookupEntry entry = decode_lookup_entry(raw, wide);
    if (entry.by_ordinal) {
        function.by_ordinal = true;
        function.ordinal = entry.ordinal;
    } else {
        const std::uint32_t rva =
            virtual_addresses_ ? to_rva(image_, raw, true) : entry.hint_name_rva;
        const auto name = rva == 0 || rva > 0xFFFFFFFFu - hint_name_hint_size
                              ? std::nullopt
                              : image_.string_at(rva + hint_name_hint_size);
        if (!name) {
            outside_rva_ = outside(rva);
            name_too_long_ = rva != 0 && rva <= 0xFFFFFFFFu - hint_name_hint_size &&
                             image_.string_too_long(rva + hint_name_hint_size);
            return std::nullopt;
        }
        function.name = reinterpret_cast<const std::uint8_t*>(name->data());
        function.name_length = name->size();
    }
    next_rva_ += entry_size;
    ended_ = false;
    return function;
}

}  // namespace korvex::image
