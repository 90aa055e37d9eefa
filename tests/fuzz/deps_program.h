// Decodes a fuzzer's input into the modules of a made-up installation: the
// files in each folder, what each imports (statically and delay-loaded) and
// exports (by name, by ordinal, forwarded), the API-set schema of the system
// folder and the programs to walk. A few bytes can ask for thousands of
// modules (chains, fans, webs with loops), so the resolver meets big graphs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/library.h"
#include "fuzz_input.h"
#include "pe/library_lists.h"
#include "pe_builder.h"

namespace korvex::fuzz {

// The folders of the installation, all under one absolute path that no
// file system holds: the fuzzer never looks at the disk.
inline constexpr const char* app_folder = "/korvex-fuzz/app";
inline constexpr const char* system_folder = "/korvex-fuzz/sys";
inline constexpr const char* missing_system_folder = "/korvex-fuzz/nosys";
inline constexpr const char* search_folders[] = {"/korvex-fuzz/one", "/korvex-fuzz/two"};
inline constexpr const char* path_folder = "/korvex-fuzz/path";

struct ImportDraft {
    std::string module;
    bool delay = false;
    std::vector<host::ImportedFunction> functions;
};

struct ExportDraft {
    std::string name;       // empty: by ordinal only
    std::string forwarder;  // empty: code
};

// Damage done to an image after it is built: bytes changed (each at its
// position modulo the image's size) and the image cut short. The "MZ" at its
// start is kept, so that no reader goes looking for the file on disk to say
// what it is.
struct Damage {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> changes;
    std::uint32_t cut = 0;  // not 0: the image keeps cut modulo its size bytes, 2 at least
};

struct ModuleDraft {
    std::string folder;
    std::string file_name;
    bool wide = false;   // PE32+ for x86-64 rather than PE32 for i386
    bool image = false;  // written as PE bytes and read with the image readers
    std::uint16_t ordinal_base = 1;
    std::vector<ImportDraft> imports;
    std::vector<ExportDraft> exports;
    Damage damage;
};

struct Program {
    std::vector<ModuleDraft> modules;
    std::vector<test::ApiSetSpec> api_sets;
    Damage schema_damage;
    bool system_exists = true;
    std::vector<std::string> roots;  // paths of the programs walked, in order
    std::size_t functions = 0;       // imported functions over all modules
};

// Never fails: an empty input is one program without imports.
Program decode_program(FuzzInput& input);

// The module's PE image (imports, delay imports, exports), damaged as the draft says.
test::Bytes module_image(const ModuleDraft& module);

// An apisetschema.dll holding the program's sets, damaged as the program says.
test::Bytes schema_image(const Program& program);

}  // namespace korvex::fuzz
