#include "image/import_walk.h"

#include "image/name_list_writer.h"

namespace korvex::image {

namespace {

constexpr std::uint64_t descriptor_size = 20;
constexpr std::uint64_t original_first_thunk_at = 0;
constexpr std::uint64_t name_at = 12;

}  // namespace

std::optional<ImportedModule> ModuleWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const std::uint64_t descriptor = next_;
    if (!file_.contains(descriptor, descriptor_size)) return std::nullopt;
    const std::uint32_t name_rva = *file_.u32(descriptor + name_at);
    if (name_rva == 0) return std::nullopt;
    const auto name = section_.file_offset(file_, name_rva);
    if (!name) return std::nullopt;
    const auto length = file_.string_length(*name);
    if (!length || !fits_in_name_list(listed_, std::uint64_t{*length} + 1)) return std::nullopt;

    listed_ += *length + 1;
    next_ = descriptor + descriptor_size;
    ended_ = false;
    return ImportedModule{file_.at(*name, *length + 1), *length,
                          *file_.u32(descriptor + original_first_thunk_at)};
}

FunctionWalk::FunctionWalk(ByteView file, const DirectoryLocation& imports,
                           std::uint32_t lookup_table) noexcept
    : file_(file), section_(imports.section), wide_(imports.layout.format == PeFormat::pe32_plus) {
    const auto table = lookup_table == 0 ? std::nullopt : section_.file_offset(file_, lookup_table);
    if (table) {
        next_ = *table;
    } else {
        ended_ = true;
    }
}

std::optional<ImportedFunction> FunctionWalk::next() noexcept {
    if (ended_) return std::nullopt;
    ended_ = true;  // until this step succeeds
    const std::uint64_t entry_at = next_;
    const std::uint64_t entry_size = wide_ ? 8 : 4;
    std::optional<std::uint64_t> entry;
    if (wide_) {
        entry = file_.u64(entry_at);
    } else if (const auto narrow = file_.u32(entry_at)) {
        entry = *narrow;
    }
    if (!entry || *entry == 0) return std::nullopt;

    ImportedFunction function;
    const LookupEntry decoded = decode_lookup_entry(*entry, wide_);
    if (decoded.by_ordinal) {
        function.by_ordinal = true;
        function.ordinal = decoded.ordinal;
    } else {
        const auto name = section_.file_offset(file_, decoded.hint_name_rva, hint_name_hint_size);
        if (!name) return std::nullopt;
        const auto length = file_.string_length(*name);
        if (!length) return std::nullopt;
        function.name = file_.at(*name, *length + 1);
        function.name_length = *length;
    }
    next_ = entry_at + entry_size;
    ended_ = false;
    return function;
}

}  // namespace korvex::image
