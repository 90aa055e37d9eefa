// The import and delay-import tables as the loader reads them: every RVA
// through the section that holds it (PeImage), each lookup table decoded
// by decode_lookup_entry. The name-list exports read the import table by
// another rule (through the section that holds the directory); a tool that
// says what the loader will load needs this one.
//
// Each walk ends at its terminator, or at the first thing that is not in the
// file's data: then `ended_outside` says so, for the damage check, and the
// entries before it stand. Every step moves 4 to 32 bytes further through
// the image, so a walk ends within the file's size divided by that.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/import_walk.h"
#include "image_readers/pe_image.h"

namespace korvex::image {

enum class ImportTable : std::uint8_t {
    // Import descriptors (20 bytes each) ending at one whose Name or
    // FirstThunk is 0, as the loader stops; a module's functions come from
    // OriginalFirstThunk, or from FirstThunk when that is 0.
    imports,
    // Delay-import descriptors (32 bytes each) ending at a Name of 0. One
    // whose Attributes bit 0 is clear comes from an old linker that stored
    // virtual addresses: ImageBase is taken off them.
    delay_imports,
};

struct ImportTableModule {
    std::string_view name;
    std::uint32_t lookup_table = 0;  // an RVA; 0 when the module lists no functions
    bool virtual_addresses = false;  // an old delay descriptor: name pointers are addresses
};

class ImportModuleWalk {
public:
    ImportModuleWalk(const PeImage& image, ImportTable table) noexcept;

    std::optional<ImportTableModule> next() noexcept;

    // The walk stopped at a descriptor or a name that is not in the file.
    [[nodiscard]] bool ended_outside() const noexcept { return outside_rva_ != 0; }
    [[nodiscard]] std::uint32_t outside_rva() const noexcept { return outside_rva_; }
    // The walk stopped at a module name longer than max_name_length.
    [[nodiscard]] bool name_too_long() const noexcept { return name_too_long_; }

private:
    const PeImage& image_;
    ImportTable table_;
    std::uint32_t next_rva_ = 0;
    std::uint32_t outside_rva_ = 0;
    bool ended_ = false;
    bool name_too_long_ = false;
};

// One module's lookup table: entries of 4 (PE32) or 8 (PE32+) bytes ended by
// 0. For an old delay descriptor ImageBase is taken off each name pointer.
class ImportFunctionWalk {
public:
    ImportFunctionWalk(const PeImage& image, const ImportTableModule& module) noexcept;

    std::optional<ImportedFunction> next() noexcept;

    // The walk stopped at an entry or a name that is not in the file.
    [[nodiscard]] bool ended_outside() const noexcept { return outside_rva_ != 0; }
    [[nodiscard]] std::uint32_t outside_rva() const noexcept { return outside_rva_; }
    // The walk stopped at a function name longer than max_name_length.
    [[nodiscard]] bool name_too_long() const noexcept { return name_too_long_; }

private:
    const PeImage& image_;
    std::uint32_t next_rva_;
    bool virtual_addresses_;
    std::uint32_t outside_rva_ = 0;
    bool ended_;
    bool name_too_long_ = false;
};

}  // namespace korvex::image
