// What korvex learns about one executable file: its lists through the
// library, the rest from a view of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <map>
#include <memory>

#include "core/library.h"
#include "inspect/image_facts.h"
#include "pe/library_lists.h"
#include "pe/module_file.h"
#include "pe/module_search.h"

namespace korvex::host {

struct ImportedModule {
    std::string name;
    std::vector<ImportedFunction> functions;
};

// Where inspect looks for the DLLs a PE image imports by ordinal, to name
// those imports: the image's own folder, the --search folders, then the
// system folder (--system, or the one for the image's machine); each DLL is
// read once per run.
class OrdinalNames {
public:
    OrdinalNames(std::vector<std::string> search, std::string system)
        : search_(std::move(search)), system_(std::move(system)) {}
    // Fills known_as of every import by ordinal whose DLL is found.
    void name_imports(const std::string& path, std::uint16_t machine,
                      std::vector<ImportedModule>& imports);

private:
    std::vector<std::string> search_;
    std::string system_;
    std::map<std::string, std::unique_ptr<ModuleFolders>> folders_;  // by folders and machine
};

struct Inspection {
    std::string path;
    std::int32_t code = 0;        // MapFile's answer; KORVEX_MAP_OPEN_FAILED when never mapped
    std::string problem;          // why it failed, or why the PE image is damaged, in words
    bool not_executable = false;  // read, and empty or not beginning with MZ
    std::string machine;          // of a PE image: "i386", "x86-64", "ARM64", ... or "0x1234"
    std::uint16_t machine_id = 0;
    int bits = 0;      // of a PE image: 32 (PE32) or 64 (PE32+)
    std::string note;  // where the loader would read the imports otherwise, in words
    std::optional<HeaderFacts> headers;
    std::vector<ImportedModule> imports;
    std::vector<std::string> exports;       // the library's name list
    std::vector<ExportEntry> export_table;  // every export with its ordinal and forwarder
};

// What to tell of a PE image.
struct InspectParts {
    bool headers = true;
    bool imports = true;
    bool exports = true;
};

// Maps the file, lists what a PE image imports and exports, unmaps it, and
// reads the rest from a view of korvex's own. What is not an ordinary file
// (a folder, a device) is never mapped.
Inspection inspect_file(const Library& library, const std::string& path, InspectParts parts = {});

}  // namespace korvex::host
