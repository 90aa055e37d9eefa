// What korvex learns about one executable file through the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/library.h"
#include "inspect/image_facts.h"

namespace korvex::host {

struct ImportedModule {
    std::string name;
    std::vector<ImportedFunction> functions;
};

struct Inspection {
    std::string path;
    std::int32_t code = 0;  // MapFile's answer; KORVEX_MAP_OPEN_FAILED when never mapped
    std::string problem;    // why it failed, or why the PE image is damaged, in words
    std::string machine;    // of a PE image: "i386", "x86-64", "ARM64", ... or "0x1234"
    int bits = 0;           // of a PE image: 32 (PE32) or 64 (PE32+)
    std::string note;       // where the loader would read the imports otherwise, in words
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
