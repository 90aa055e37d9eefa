// The delay-import directory: modules the program loads on its first call
// into them, through the delay-load helper its linker added, rather than at
// start. Their names and functions are laid out like ordinary imports.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/import_walk.h"
#include "image_readers/section_map.h"

namespace korvex::image {

struct DelayImportedModule {
    std::string_view name;
    std::uint32_t name_table = 0;    // ImportNameTableRVA, already an RVA
    bool virtual_addresses = false;  // an old descriptor: hint/name pointers are addresses
};

// The descriptors in order (32 bytes each). Descriptors whose Attributes bit
// 0 is clear come from old linkers that stored virtual addresses: ImageBase
// is taken off them. The walk ends at a descriptor whose name is 0, at one
// not wholly in the file, and at a name that is not in the file; it steps 32
// bytes at a time, so it ends within the file's size / 32 steps.
class DelayModuleWalk {
public:
    explicit DelayModuleWalk(const SectionMap& image) noexcept;

    std::optional<DelayImportedModule> next() noexcept;

private:
    const SectionMap& image_;
    std::uint32_t next_rva_ = 0;
    bool ended_ = false;
};

// One delay-imported module's name table: 4-byte (PE32) or 8-byte (PE32+)
// entries with the ordinal flag in the top bit, ended by 0, by an entry not
// in the file or by a name not in the file. For an old descriptor ImageBase
// is taken off each hint/name pointer.
class DelayFunctionWalk {
public:
    DelayFunctionWalk(const SectionMap& image, const DelayImportedModule& module) noexcept;

    std::optional<ImportedFunction> next() noexcept;

private:
    const SectionMap& image_;
    std::uint32_t next_rva_;
    bool virtual_addresses_;
    bool ended_;
};

}  // namespace korvex::image
