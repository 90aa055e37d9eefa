// Walks the import data of a PE image: the descriptors, one per imported
// module, and a module's import lookup table. Everything is read in place;
// each step reads only what lies wholly inside the file, and the first thing
// that does not ends the walk, so the entries before it stand.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "image/byte_view.h"
#include "image/directory_lookup.h"

namespace korvex::image {

struct ImportedModule {
    const std::uint8_t* name = nullptr;  // inside the file, NUL-terminated there
    std::size_t name_length = 0;
    std::uint32_t lookup_table = 0;  // OriginalFirstThunk: 0 when the module lists nothing
};

// The imported modules in descriptor order, exactly as the module list shows
// them. The walk ends at:
//  - a descriptor whose Name is 0 (the terminator);
//  - a descriptor that does not lie wholly inside the file;
//  - a name whose converted position lies outside the file or that runs to
//    the end of the file without its NUL;
//  - a name that would take the module list past max_name_list_size.
// It steps 20 bytes a descriptor, so it ends within the file's size / 20 steps.
class ModuleWalk {
public:
    ModuleWalk(ByteView file, const DirectoryLocation& imports) noexcept
        : file_(file), section_(imports.section), next_(imports.data) {}

    std::optional<ImportedModule> next() noexcept;

private:
    ByteView file_;
    SectionHeader section_;
    std::uint64_t next_;        // file offset of the next descriptor
    std::uint64_t listed_ = 0;  // module-list bytes of the modules given so far
    bool ended_ = false;
};

// One entry of an import lookup table, decoded: 4 bytes in PE32 (bit 31:
// import by ordinal) and 8 in PE32+ (bit 63); the ordinal is the low 16 bits,
// and otherwise the low 31 bits (PE32+: 32) are the RVA of a hint/name
// entry, whose name follows its 16-bit hint. Every reader of lookup tables,
// the DLL's and the host's, decodes through this.
struct LookupEntry {
    bool by_ordinal = false;
    std::uint16_t ordinal = 0;
    std::uint32_t hint_name_rva = 0;
};
inline constexpr std::uint32_t hint_name_hint_size = 2;

constexpr LookupEntry decode_lookup_entry(std::uint64_t entry, bool wide) noexcept {
    const std::uint64_t ordinal_flag = wide ? 0x8000000000000000u : 0x80000000u;
    if ((entry & ordinal_flag) != 0) return {true, static_cast<std::uint16_t>(entry & 0xFFFF), 0};
    return {false, 0, static_cast<std::uint32_t>(entry & (wide ? 0xFFFFFFFFu : 0x7FFFFFFFu))};
}

struct ImportedFunction {
    bool by_ordinal = false;
    std::uint16_t ordinal = 0;           // when by_ordinal
    const std::uint8_t* name = nullptr;  // otherwise: inside the file, NUL-terminated there
    std::size_t name_length = 0;
};

// The length of a string of at most 31 bytes whose NUL lies within the
// `room` bytes at `text`; nothing for any other (ByteView::string_length
// then looks further).
inline std::optional<std::size_t> short_string(const std::uint8_t* text, std::size_t room) {
    const auto word_zeros = [text](std::size_t i) {
        std::uint64_t word;
        std::memcpy(&word, text + i, 8);
        return ByteView::zero_bytes(word);
    };
    if (room >= 32) {
        // Most names: four words, no bound to check between them.
        for (std::size_t i = 0; i < 32; i += 8)
            if (const std::uint64_t zeros = word_zeros(i))
                return i + static_cast<std::size_t>(std::countr_zero(zeros)) / 8;
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 8 <= room; i += 8)
        if (const std::uint64_t zeros = word_zeros(i))
            return i + static_cast<std::size_t>(std::countr_zero(zeros)) / 8;
    return std::nullopt;
}

// Where a lookup table's walk ended: `end` is the file offset of the entry
// that was no entry (a 0, damage) or of the entry the visitor refused.
struct TableEnd {
    std::uint64_t end = 0;
    bool refused = false;
};

// A walk that goes on until the table ends.
inline constexpr std::uint64_t no_stop = UINT64_MAX;

// Walks one module's import lookup table (OriginalFirstThunk; the import
// address table is never read) from file offset `at`, the table's first
// entry as converted through the import directory's section, and hands each
// entry to `visit(const ImportedFunction&)`, which answers false to stop.
// Stops before `stop` when it reaches it. The walk ends at:
//  - an entry of 0 (the terminator);
//  - an entry that does not lie wholly inside the file;
//  - a hint/name entry whose name (2 bytes past its RVA) lies outside the
//    file or runs to the end of the file without its NUL.
// Each entry depends only on its own bytes, so two walks over the same
// entries agree on each of them wherever they started.
//
// Inline, and the entries read a block at a time (ByteView::rest_of_block):
// only the first entry of each block pays for the bounds check and the
// check that its bytes are there. Crafted images point many descriptors
// into one table of a million entries.
template <typename Visit>
TableEnd walk_lookup_table(ByteView file, const DirectoryLocation& imports, std::uint64_t at,
                           std::uint64_t stop, Visit&& visit) noexcept {
    const bool wide = imports.layout.format == PeFormat::pe32_plus;
    const std::size_t entry_size = wide ? 8 : 4;
    // SectionHeader::file_offset of a hint/name entry's name, with the
    // section's part worked out once for the whole table.
    const std::int64_t name_shift = std::int64_t{imports.section.pointer_to_raw_data} -
                                    imports.section.virtual_address + hint_name_hint_size;
    constexpr std::int64_t four_gib = std::int64_t{1} << 32;
    // The hint/name entries lie together too: a name inside the block of
    // the last one found is scanned in place. The bytes from names_at on
    // are ready; none before a name has been found.
    const std::uint8_t* names = nullptr;
    std::uint64_t names_at = 0;
    std::size_t names_length = 0;
    while (at != stop) {
        const std::uint8_t* const first = file.at(at, entry_size);
        if (first == nullptr) return {at, false};
        // The entries wholly in the rest of this block, none past `stop`;
        // at least the first, which file.at made ready even where it
        // crosses into the next block.
        std::size_t rest = 0;
        static_cast<void>(file.rest_of_block(at, rest));  // the first entry's bytes, already ready
        std::uint64_t count = rest >= entry_size ? rest / entry_size : 1;
        if (stop > at && (stop - at) % entry_size == 0 && (stop - at) / entry_size < count)
            count = (stop - at) / entry_size;
        const std::uint8_t* const last = first + static_cast<std::size_t>(count - 1) * entry_size;
        for (const std::uint8_t* entry = first;; entry += entry_size) {
            const std::uint64_t raw = wide ? ByteView::le64(entry) : ByteView::le32(entry);
            const std::uint64_t entry_at = at + static_cast<std::uint64_t>(entry - first);
            if (raw == 0) return {entry_at, false};

            const LookupEntry decoded = decode_lookup_entry(raw, wide);
            ImportedFunction function{decoded.by_ordinal, decoded.ordinal};
            if (!decoded.by_ordinal) {
                const std::int64_t name = name_shift + decoded.hint_name_rva;
                if (name < 0 || name >= four_gib) return {entry_at, false};
                const auto offset = static_cast<std::uint64_t>(name);
                std::optional<std::size_t> length;
                // Unsigned: false too for a name before names_at.
                if (offset - names_at < names_length) {
                    const auto skip = static_cast<std::size_t>(offset - names_at);
                    length = short_string(names + skip, names_length - skip);
                }
                if (!length) {
                    length = file.string_length(offset);
                    if (!length) return {entry_at, false};
                    names = file.rest_of_block(offset, names_length);
                    names_at = offset;
                }
                // string_length made the name and its NUL ready.
                function.name = file.data() + offset;
                function.name_length = *length;
            }
            if (!visit(function)) return {entry_at, true};
            if (entry == last) break;
        }
        at += count * entry_size;
    }
    return {at, false};
}

// The file offset of a module's lookup table; nothing when its RVA is 0 or
// converts to no position inside the file (the module lists nothing).
inline std::optional<std::uint64_t> lookup_table_at(ByteView file, const DirectoryLocation& imports,
                                                    const ImportedModule& module) noexcept {
    if (module.lookup_table == 0) return std::nullopt;
    return imports.section.file_offset(file, module.lookup_table);
}

}  // namespace korvex::image
