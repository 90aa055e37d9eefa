// The DLLs a program needs, found the way the Windows loader finds them for a
// desktop program, with every imported function checked against the export
// table of the module that provides it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "deps/api_sets.h"
#include "pe/module_file.h"
#include "pe/module_search.h"

namespace korvex::host {

struct SearchSettings {
    std::vector<std::string> search;  // --search folders, in order
    std::string system;               // --system; empty: the default for the program's machine
    std::vector<std::string> path;    // the PATH folders
    // Walk the imports of Windows' own DLLs too (--all). By default they are
    // Windows' business: what only they import is not the program's.
    bool all = false;
};

// How a module was found: the folder rule, or the API-set name that led to it.
inline constexpr const char* via_program = "program";
inline constexpr const char* via_search = "search";
inline constexpr const char* via_system = "system";
inline constexpr const char* via_path = "PATH";
inline constexpr const char* via_api_set = "api-set";

struct DependencyNode {
    std::string name;                  // as first imported; the root's file name for node 0
    const ModuleFile* file = nullptr;  // null when missing (or a set without a host)
    std::string via;
    bool system = false;       // a DLL of Windows': in the system folder, and Windows ships it
    bool not_windows = false;  // in the system folder, but Windows does not ship it
    bool delay = true;         // reached only through delay-load imports
    bool api_set = false;      // a virtual name, resolved through the schema
    std::string host;          // of an API set: its host DLL; empty when it has none
    bool optional = false;     // an ext- set without a host: not missing
    std::vector<std::string> imported_by;
    struct Edge {
        std::size_t node;
        bool delay;
        bool forwarder;  // taken only to follow a forwarded export
    };
    std::vector<Edge> children;

    [[nodiscard]] bool missing() const { return file == nullptr && !optional; }
};

struct MissingFunction {
    std::string module;    // as the importer names it
    std::string function;  // empty when by ordinal
    std::optional<std::uint16_t> ordinal;
    std::string imported_by;
    bool delay = false;
};

struct SkippedFile {
    std::string module;
    std::string path;
    std::string reason;
    // The file passed a limit (ModuleFile::limit_passed, or a hostile API-set
    // schema): a failure of the run even when another file stood in for it.
    bool limit_passed = false;
    std::uint16_t machine = 0;  // the file's machine, when that was why it was passed over
};

struct DependencyGraph {
    std::string root;                   // as given
    std::string problem;                // why the root itself cannot be walked; empty when it can
    std::vector<DependencyNode> nodes;  // [0] is the root, the rest in the order found
    std::vector<MissingFunction> missing_functions;
    std::vector<SkippedFile> skipped;
    // Why no module could come from a system folder ("--system /x does not
    // exist", "no system folder for ARM64 programs here"); empty when one was
    // searched.
    std::string no_system_folder;

    // True when something the program needs is missing: a module or function
    // of a static import, or (with `delay_counts`) of a delay-load one.
    [[nodiscard]] bool failed(bool delay_counts) const;
};

// One step of checking a module's imports, kept to be taken again: an
// import's module, a forwarder from one module to another, a function found
// nowhere.
struct WalkStep {
    enum class Kind : std::uint8_t { import, forward, missing };
    Kind kind;
    std::size_t import;                // index into the module's imports
    std::string from;                  // forward: the forwarding module's lower-case name
    std::string to;                    // forward: the module forwarded to
    const ImportedFunction* function;  // missing
};

// The steps of one module's imports hold for programs of one folder and
// machine (the walk's context).
using WalkKey = std::pair<std::string, const ModuleFile*>;

// Where the resolver finds files: the file system in a run (ModuleFiles);
// modules made in memory in tests.
class ModuleSource {
public:
    virtual ~ModuleSource() = default;
    // The module at `path`, read once per resolver (it keeps the answer).
    virtual std::unique_ptr<ModuleFile> read(const std::string& path) = 0;
    // Whether anything stands at `path`, spelled exactly so.
    virtual bool exists(const std::string& path) = 0;
    // The names of the ordinary files in `folder`, in the order listed, and
    // whether the folder held more entries than were looked at.
    virtual FileNames list_folder(const std::string& folder) = 0;
    // The API-set schema of the apisetschema.dll at `path`.
    virtual std::unique_ptr<ApiSets> read_api_sets(const std::string& path) = 0;
};

// The modules of a run: files read with the image readers, folders listed
// by the file system.
class ModuleFiles : public ModuleSource {
public:
    std::unique_ptr<ModuleFile> read(const std::string& path) override;
    bool exists(const std::string& path) override;
    FileNames list_folder(const std::string& folder) override;
    std::unique_ptr<ApiSets> read_api_sets(const std::string& path) override;

private:
    // apisetschema.dll is both a module and the API-set schema: whichever is
    // asked for first reads the other from the same view and keeps it for
    // its own call, so that the file is opened once.
    struct SchemaFile {
        std::unique_ptr<ModuleFile> module;
        std::unique_ptr<ApiSets> sets;
    };
    SchemaFile& schema_file(const std::string& path);
    std::unordered_map<std::string, SchemaFile> schema_files_;
};

class DependencyResolver {
public:
    DependencyResolver(ModuleSource& source, SearchSettings settings);
    ~DependencyResolver();

    // Walks one program. Files are read once for every program walked. A
    // graph that would keep more than its files' InputBudgets allow (the
    // root's, and 16 times the size of each further module found), or that
    // runs out of memory, comes back empty with the root's problem.
    DependencyGraph resolve(const std::string& root);

    // The system folder used for programs of `machine`.
    const std::string& system_folder(std::uint16_t machine);

private:
    friend class GraphWalk;

    const ModuleFile& load(const std::string& path);
    const ApiSets& api_sets(const std::string& system);

    ModuleSource& source_;
    SearchSettings settings_;
    std::unordered_map<std::string, std::unique_ptr<ModuleFile>> files_;
    FolderNames folder_names_{
        [this](const std::string& folder) { return source_.list_folder(folder); }};
    std::map<std::uint16_t, std::string> system_folders_;
    std::unordered_map<std::string, std::unique_ptr<ApiSets>> api_sets_;
    std::map<WalkKey, std::vector<WalkStep>> walk_steps_;
};

}  // namespace korvex::host
