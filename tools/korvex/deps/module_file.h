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

#include "core/library.h"
#include "deps/api_sets.h"

namespace korvex::host {

struct ModuleImport {
    std::string module;  // as the file names it
    std::vector<ImportedFunction> functions;
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

// Where the resolver finds files: the file system in a run (ModuleFiles);
// modules made in memory in tests.
class ModuleSource {
public:
    virtual ~ModuleSource() = default;
    // The module at `path`, read once per resolver (it keeps the answer).
    virtual std::unique_ptr<ModuleFile> read(const std::string& path) = 0;
    // Whether anything stands at `path`, spelled exactly so.
    virtual bool exists(const std::string& path) = 0;
    // The names of the ordinary files in `folder`, in the order listed.
    virtual std::vector<std::string> list_folder(const std::string& folder) = 0;
    // The API-set schema of the apisetschema.dll at `path`.
    virtual std::unique_ptr<ApiSets> read_api_sets(const std::string& path) = 0;
};

// The modules of a run: files read with the image readers, folders listed
// by the file system.
class ModuleFiles : public ModuleSource {
public:
    std::unique_ptr<ModuleFile> read(const std::string& path) override;
    bool exists(const std::string& path) override;
    std::vector<std::string> list_folder(const std::string& folder) override;
    std::unique_ptr<ApiSets> read_api_sets(const std::string& path) override;
};

// Reads the file at `path` as the loader does, from one view of it: the
// checks it makes before mapping an image, the machine, the static and
// delay imports and the export table, every address through the section that
// holds it. A file that is not a PE image, a damaged one, or one whose
// import or export tables reach outside its data comes back with a `problem`
// and nothing else.
std::unique_ptr<ModuleFile> read_module_file(const std::string& path);

// The same over bytes already in memory (`path` names them in messages).
std::unique_ptr<ModuleFile> read_module_image(const std::string& path, image::ByteView file);

}  // namespace korvex::host
