#include "image_readers/delay_imports.h"

namespace korvex::image {

namespace {
constexpr std::uint32_t descriptor_size = 32;
constexpr std::uint64_t attributes_at = 0;
constexpr std::uint64_t name_at = 4;
constexpr std::uint64_t name_table_at = 16;
constexpr std::uint32_t rva_based = 1;
constexpr std::uint32_t hint_size = 2;

// An address of an old descriptor as an RVA; 0 (not there) when it lies
// below ImageBase or beyond 4 GiB above it.
std::uint32_t to_rva(const SectionMap& image, std::uint64_t value, bool virtual_address) {
    if (!virtual_address) return static_cast<std::uint32_t>(value);
    if (value < image.image_base() || value - image.image_base() > 0xFFFFFFFFu) return 0;
    return static_cast<std::uint32_t>(value - image.image_base());
}
}  // namespace

DelayModuleWalk::DelayModuleWalk(const SectionMap& image) noexcept : image_(image) {
    const auto directory = image.directory(delay_import_directory);
    if (directory && directory->rva != 0) {
        next_rva_ = directory->rva;
    } else {
        ended_ = true;
    }
}

std::optional<DelayImportedModule> DelayModuleWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const auto at = image_.offset_of(next_rva_, descriptor_size);
    if (!at || next_rva_ > 0xFFFFFFFFu - descriptor_size) return std::nullopt;
    const ByteView file = image_.file();
    const bool virtual_addresses = (*file.u32(*at + attributes_at) & rva_based) == 0;
    const std::uint32_t name_rva = to_rva(image_, *file.u32(*at + name_at), virtual_addresses);
    if (name_rva == 0) return std::nullopt;
    const auto name = image_.string_at(name_rva);
    if (!name) return std::nullopt;
    next_rva_ += descriptor_size;
    ended_ = false;
    return DelayImportedModule{*name,
                               to_rva(image_, *file.u32(*at + name_table_at), virtual_addresses),
                               virtual_addresses};
}

DelayFunctionWalk::DelayFunctionWalk(const SectionMap& image,
                                     const DelayImportedModule& module) noexcept
    : image_(image),
      next_rva_(module.name_table),
      virtual_addresses_(module.virtual_addresses),
      ended_(module.name_table == 0) {}

std::optional<ImportedFunction> DelayFunctionWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const bool wide = image_.layout().format == PeFormat::pe32_plus;
    const std::uint32_t entry_size = wide ? 8 : 4;
    const auto at = image_.offset_of(next_rva_, entry_size);
    if (!at || next_rva_ > 0xFFFFFFFFu - entry_size) return std::nullopt;
    const ByteView file = image_.file();
    const std::uint64_t entry = wide ? *file.u64(*at) : *file.u32(*at);
    if (entry == 0) return std::nullopt;

    ImportedFunction function;
    const std::uint64_t ordinal_flag = wide ? 0x8000000000000000u : 0x80000000u;
    if ((entry & ordinal_flag) != 0) {
        function.by_ordinal = true;
        function.ordinal = static_cast<std::uint16_t>(entry & 0xFFFF);
    } else {
        const std::uint32_t rva = to_rva(image_, entry, virtual_addresses_);
        if (rva == 0 || rva > 0xFFFFFFFFu - hint_size) return std::nullopt;
        const auto name = image_.string_at(rva + hint_size);
        if (!name) return std::nullopt;
        function.name = reinterpret_cast<const std::uint8_t*>(name->data());
        function.name_length = name->size();
    }
    next_rva_ += entry_size;
    ended_ = false;
    return function;
}

}  // namespace korvex::image
