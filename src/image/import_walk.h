// Walks the import data of a PE image: the descriptors, one per imported
// module, and a module's import lookup table. Everything is read in place;
// each step reads only what lies wholly inside the file, and the first thing
// that does not ends the walk, so the entries before it stand.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The entries of one module's import lookup table (OriginalFirstThunk; the
// import address table is never read). Entries are 4 bytes in PE32 (bit 31:
// ordinal) and 8 in PE32+ (bit 63: ordinal; otherwise the low 32 bits are the
// RVA). The walk ends at:
//  - an entry of 0 (the terminator);
//  - an entry that does not lie wholly inside the file;
//  - a hint/name entry whose name (2 bytes past its RVA) lies outside the
//    file or runs to the end of the file without its NUL.
// A table whose RVA is 0 or converts to no position inside the file is empty.
class FunctionWalk {
public:
    FunctionWalk(ByteView file, const DirectoryLocation& imports,
                 std::uint32_t lookup_table) noexcept;

    std::optional<ImportedFunction> next() noexcept;

private:
    ByteView file_;
    SectionHeader section_;
    bool wide_;
    std::uint64_t next_ = 0;  // file offset of the next entry
    bool ended_ = false;
};

}  // namespace korvex::image
