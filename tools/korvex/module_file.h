// What the dependency walk needs to know of one executable file: its
// machine, the modules and functions it imports (statically, through the
// library's exports, and delay-loaded), and its export table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "library.h"

namespace korvex::host {

struct ImportedFunctionRef {
    std::string name;  // empty when by ordinal
    std::optional<std::uint16_t> ordinal;
};

struct ModuleImport {
    std::string module;  // as the file names it
    std::vector<ImportedFunctionRef> functions;
    bool delay = false;
};

struct ExportLookup {
    enum class Kind : std::uint8_t { none, code, forwarder };
    Kind kind = Kind::none;
    std::string forwarder;  // "MODULE.Name" or "MODULE.#12"
};

struct ModuleFile {
    std::string path;
    std::string problem;  // why it cannot be loaded; empty for a usable PE image
    std::uint16_t machine = 0;
    std::vector<ModuleImport> imports;  // static ones first, in descriptor order

    ExportLookup find_export(const std::string& name) const;
    ExportLookup find_export(std::uint16_t ordinal) const;

    std::unordered_map<std::string, std::uint32_t> export_slots;  // name -> address-table slot
    std::unordered_map<std::uint32_t, std::string> forwarders;    // slot -> forwarder
    std::vector<bool> code_slots;
    std::uint32_t ordinal_base = 0;
};

// Reads the file at `path`. The import lists come through the library (its
// MapFile and name-list exports); the machine, delay imports and export
// table through the image readers over a view of the file. A file that is
// not a PE image, or one the library will not map, comes back with a
// `problem` and nothing else.
std::unique_ptr<ModuleFile> read_module_file(const Library& library, const std::string& path);

// The machine's name for people ("i386", "x86-64", ...) or its number in hex.
std::string machine_text(std::uint16_t machine);

}  // namespace korvex::host
