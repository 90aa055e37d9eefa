// The dependency resolver over modules made in memory: where each module is
// found, what is missing, forwarders, delay loads and API sets; and the text
// tree of a graph made in memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "deps/dependency_graph.h"
#include "deps/deps_output.h"
#include "deps/import_chains.h"
#include "deps/windows_dlls.h"
#include "pe_builder.h"
#include "temp_dir.h"

namespace korvex::test {
namespace {

namespace fs = std::filesystem;
using host::DependencyGraph;
using host::DependencyResolver;
using host::ModuleFile;

constexpr std::uint16_t i386 = 0x14C, x86_64 = 0x8664;

// A path under a folder that is absolute on every platform the tests run on.
std::string at(const std::string& relative) {
    return (fs::absolute("vfs") / fs::path(relative)).lexically_normal().string();
}

struct ModuleSpec {
    std::string path;  // relative, as at() takes it
    // "dll:Name", "dll:#12" (by ordinal), "~dll:Name" (delay-load).
    std::vector<std::string> imports;
    // "Name", or "Name=DLL.Target" for a forwarder; ordinals count from 1.
    std::vector<std::string> exports;
    std::uint16_t machine = i386;
};

class ModuleTable : public host::ModuleSource {
public:
    ModuleTable(const std::vector<ModuleSpec>& specs, Bytes api_set_file = {})
        : api_set_file_(std::move(api_set_file)) {
        for (const auto& module : specs) add(module);
        if (!api_set_file_.empty()) files_[at("sys/apisetschema.dll")] = ModuleFile{};
    }

    std::unique_ptr<ModuleFile> read(const std::string& path) override {
        ++reads[path];
        const auto found = files_.find(path);
        auto file =
            std::make_unique<ModuleFile>(found == files_.end() ? ModuleFile{} : found->second);
        file->path = path;
        if (found == files_.end()) file->problem = "does not exist";
        return file;
    }
    bool exists(const std::string& path) override {
        return files_.contains(path) || !list_folder(path).names.empty();
    }
    host::FileNames list_folder(const std::string& folder) override {
        host::FileNames listed{{}, cut_folders.contains(at(folder))};
        for (const auto& [path, file] : files_)
            if (fs::path(path).parent_path() == fs::path(folder))
                listed.names.push_back(fs::path(path).filename().string());
        return listed;
    }
    std::unique_ptr<host::ApiSets> read_api_sets(const std::string&) override {
        return std::make_unique<host::ApiSets>(
            image::ByteView(api_set_file_.data(), api_set_file_.size()));
    }

    std::map<std::string, int> reads;
    std::set<std::string> cut_folders;  // listed as holding more than was looked at

private:
    void add(const ModuleSpec& made) {
        ModuleFile file;
        file.machine = made.machine;
        file.ordinal_base = 1;
        for (std::string entry : made.imports) {
            const bool delay = entry[0] == '~';
            if (delay) entry.erase(0, 1);
            const auto colon = entry.find(':');
            const std::string module = entry.substr(0, colon), function = entry.substr(colon + 1);
            auto import = std::find_if(file.imports.begin(), file.imports.end(),
                                       [&](const auto& i) { return i.module == module; });
            if (import == file.imports.end())
                import = file.imports.insert(file.imports.end(), {module, {}, delay});
            import->functions.push_back(
                function[0] == '#' ? host::ImportedFunction{{},
                                                            static_cast<std::uint16_t>(
                                                                std::stoi(function.substr(1)))}
                                   : host::ImportedFunction{function, std::nullopt});
        }
        for (std::uint32_t slot = 0; slot < made.exports.size(); ++slot) {
            const std::string& entry = made.exports[slot];
            const auto equals = entry.find('=');
            file.export_slots.emplace(entry.substr(0, equals), slot);
            file.code_slots.push_back(equals == std::string::npos);
            if (equals != std::string::npos)
                file.forwarders.emplace(slot, entry.substr(equals + 1));
        }
        files_[at(made.path)] = std::move(file);
    }

    std::map<std::string, ModuleFile> files_;
    Bytes api_set_file_;
};

// One line a node: "name via [delay] [missing]", and the missing functions.
std::vector<std::string> summary(const DependencyGraph& graph) {
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < graph.nodes.size(); ++i) {
        const auto& node = graph.nodes[i];
        std::string line = node.name + " " + (node.via.empty() ? "-" : node.via);
        if (node.delay) line += " delay";
        if (node.missing()) line += " missing";
        if (node.optional) line += " optional";
        if (node.not_windows) line += " not-windows";
        lines.push_back(line);
    }
    for (const auto& function : graph.missing_functions)
        lines.push_back(
            "no " + function.module + "!" +
            (function.ordinal ? "#" + std::to_string(*function.ordinal) : function.function));
    return lines;
}

DependencyGraph resolve(ModuleTable& table, std::vector<std::string> search = {},
                        bool all = false) {
    for (auto& folder : search) folder = at(folder);
    DependencyResolver resolver(table, {search, at("sys"), {}, all});
    return resolver.resolve(at("app/app.exe"));
}

TEST(DependencyResolver, FindsModulesInTheLoadersOrder) {
    struct Case {
        const char* what;
        std::vector<ModuleSpec> modules;
        std::vector<std::string> search;
        std::vector<std::string> expected;
        bool all = false;  // --all
    };
    const std::vector<ModuleSpec> windows_imports = {
        {"app/app.exe", {"user32.dll:f"}},
        {"sys/user32.dll", {"zlib1.dll:z", "gone.dll:g"}, {"f"}},
        {"sys/zlib1.dll", {}, {"z"}}};
    const std::vector<Case> cases = {
        {"what only Windows' DLLs import is not the program's",
         windows_imports,
         {},
         {"user32.dll system"}},
        {"--all walks it",
         windows_imports,
         {},
         {"user32.dll system", "zlib1.dll system not-windows", "gone.dll - missing"},
         true},
        {"what the program's own DLLs import is the program's",
         {{"app/app.exe", {"mine.dll:f"}},
          {"app/mine.dll", {"zlib1.dll:z"}, {"f"}},
          {"sys/zlib1.dll", {}, {"z"}}},
         {},
         {"mine.dll program", "zlib1.dll system not-windows"}},
        {"program folder before system, any case",
         {{"app/app.exe", {"ALPHA:f", "kernel32.DLL:g"}},
          {"app/alpha.dll", {}, {"f"}},
          {"sys/alpha.dll", {}, {"f"}},
          {"sys/KERNEL32.dll", {}, {"g"}}},
         {},
         {"ALPHA program", "kernel32.DLL system"}},
        {"search folders in order, then system",
         {{"app/app.exe", {"beta.dll:f"}},
          {"two/beta.dll", {}, {"f"}},
          {"sys/beta.dll", {}, {"f"}}},
         {"one", "two"},
         {"beta.dll search"}},
        {"a module of another machine is skipped for the next",
         {{"app/app.exe", {"gamma.dll:f"}},
          {"app/gamma.dll", {}, {"f"}, x86_64},
          {"sys/gamma.dll", {}, {"f"}}},
         {},
         {"gamma.dll system not-windows"}},
        {"missing modules and entry points",
         {{"app/app.exe", {"gone.dll:f", "alpha.dll:there", "alpha.dll:absent", "alpha.dll:#9"}},
          {"app/alpha.dll", {}, {"there"}}},
         {},
         {"gone.dll - missing", "alpha.dll program", "no alpha.dll!absent", "no alpha.dll!#9"}},
        {"a forwarder leads to its module; by name or ordinal",
         {{"app/app.exe", {"alpha.dll:f", "alpha.dll:g"}},
          {"app/alpha.dll", {}, {"f=beta.real", "g=beta.#2"}},
          {"sys/beta.dll", {}, {"real", "second"}}},
         {},
         {"alpha.dll program", "beta.dll system not-windows"}},
        {"a loop of forwarders ends as a missing function",
         {{"app/app.exe", {"alpha.dll:f"}},
          {"app/alpha.dll", {}, {"f=beta.f"}},
          {"app/beta.dll", {}, {"f=alpha.f"}}},
         {},
         {"alpha.dll program", "beta.dll program", "no alpha.dll!f"}},
        {"a KnownDLL comes from the system folder whatever lies beside the program",
         {{"app/app.exe", {"ole32.dll:f"}},
          {"app/ole32.dll", {}, {}},
          {"sys/ole32.dll", {}, {"f"}}},
         {},
         {"ole32.dll system"}},
        {"what Windows does not ship is the program's, even in the system folder",
         {{"app/app.exe", {"zlib1.dll:f", "VCRUNTIME140.dll:g"}},
          {"sys/zlib1.dll", {}, {"f"}},
          {"sys/vcruntime140.dll", {}, {"g"}}},
         {},
         {"zlib1.dll system not-windows", "VCRUNTIME140.dll system not-windows"}},
        {"delay-loaded only, until something imports it statically",
         {{"app/app.exe", {"~alpha.dll:f", "~beta.dll:g", "gamma.dll:h"}},
          {"app/alpha.dll", {}, {"f"}},
          {"app/beta.dll", {}, {"g"}},
          {"app/gamma.dll", {"beta.dll:g"}, {"h"}}},
         {},
         {"alpha.dll program delay", "beta.dll program", "gamma.dll program"}},
    };
    for (const auto& c : cases) {
        ModuleTable table(c.modules);
        const DependencyGraph graph = resolve(table, c.search, c.all);
        EXPECT_EQ(graph.problem, "") << c.what;
        EXPECT_EQ(summary(graph), c.expected) << c.what;
    }
}

TEST(DependencyResolver, ApiSetsResolveThroughTheSchemaPerImporter) {
    PeBuilder schema;
    schema.section({.virtual_address = 0x1000,
                    .data = api_set_section({{"api-ms-win-core-file-l1-2-0",
                                              {"kernel32.dll", "kernelbase.dll"},
                                              {"", "kernel32.dll"}},
                                             {"ext-ms-win-gdi-l1-1-0", {}}}),
                    .name = ".apiset"});
    ModuleTable table({{"app/app.exe",
                        {"api-ms-win-core-file-l1-2-3:f", "ext-ms-win-gdi-l1-1-0:g",
                         "api-ms-win-unknown-l1-1-0:h"}},
                       {"sys/kernel32.dll", {"api-ms-win-core-file-l1-2-3:f"}, {"f"}},
                       {"sys/kernelbase.dll", {}, {"f"}}},
                      schema.build());
    const DependencyGraph graph = resolve(table, {}, true);
    // The set's version (the last "-N") does not matter; kernel32, itself an
    // importer of the set, is sent to its own entry's host, through a node of
    // its own (not the program's, which leads back to kernel32).
    EXPECT_EQ(summary(graph), (std::vector<std::string>{
                                  "api-ms-win-core-file-l1-2-3 api-set",
                                  "kernel32.dll api-ms-win-core-file-l1-2-3",
                                  "ext-ms-win-gdi-l1-1-0 api-set optional",
                                  "api-ms-win-unknown-l1-1-0 - missing",
                                  "api-ms-win-core-file-l1-2-3 api-set",
                                  "kernelbase.dll api-ms-win-core-file-l1-2-3",
                              }));
    EXPECT_TRUE(graph.missing_functions.empty());
}

TEST(DependencyResolver, AnApiSetImporterIsMatchedByItsFileName) {
    PeBuilder schema;
    schema.section(
        {.virtual_address = 0x1000,
         .data = api_set_section(
             {{"api-ms-win-core-file-l1-2-0", {"kernel32.dll", "kernelbase.dll"}, {"", "m1.dll"}}}),
         .name = ".apiset"});
    ModuleTable table({{"app/app.exe", {"m1:f"}},
                       {"app/m1.dll", {"api-ms-win-core-file-l1-2-0:g"}, {"f"}},
                       {"sys/kernel32.dll", {}, {"g"}},
                       {"sys/kernelbase.dll", {}, {"g"}}},
                      schema.build());
    EXPECT_EQ(summary(resolve(table)), (std::vector<std::string>{
                                           "m1 program",
                                           "api-ms-win-core-file-l1-2-0 api-set",
                                           "kernelbase.dll api-ms-win-core-file-l1-2-0",
                                       }));
}

TEST(DependencyResolver, WindowsDllTablesAreSortedAndKnown) {
    EXPECT_TRUE(host::tables_are_sorted());
    EXPECT_TRUE(host::shipped_by_windows("kernel32.dll"));
    EXPECT_FALSE(host::shipped_by_windows("msvcp140.dll"));
    EXPECT_TRUE(host::is_known_dll("ole32.dll"));
    EXPECT_FALSE(host::is_known_dll("comctl32.dll")) << "side-by-side, never a KnownDLL";
    EXPECT_STREQ(host::windows_since("kernelbase.dll"), "7");
}

TEST(DependencyResolver, ReadsEachFileOnceForManyPrograms) {
    ModuleTable table({{"app/app.exe", {"alpha.dll:f"}},
                       {"app/other.exe", {"alpha.dll:f", "alpha.dll:missing"}},
                       {"app/alpha.dll", {}, {"f"}},
                       {"sys/kernel32.dll"}});
    DependencyResolver resolver(table, {{}, at("sys"), {}});
    EXPECT_FALSE(resolver.resolve(at("app/app.exe")).failed(false));
    const DependencyGraph second = resolver.resolve(at("app/other.exe"));
    EXPECT_TRUE(second.failed(false));
    EXPECT_EQ(table.reads[at("app/alpha.dll")], 1);
    EXPECT_EQ(resolver.resolve(at("app/none.exe")).problem, "does not exist");
    EXPECT_EQ(second.no_system_folder, "");

    // No system folder: said once for the graph, each missing module with
    // every importer.
    DependencyResolver nowhere(table, {{}, at("nosys"), {}});
    const DependencyGraph alone = nowhere.resolve(at("app/other.exe"));
    EXPECT_EQ(alone.no_system_folder, "the system folder " + at("nosys") + " does not exist");
}

TEST(DependencyResolver, ForwardersSharedByImportersReplayForEachProgram) {
    // a.dll and b.dll both reach y.dll through x.dll's forwarder; other.exe,
    // walked after app.exe in the same folder, needs b.dll alone.
    ModuleTable table({{"app/app.exe", {"a.dll:f", "b.dll:g"}},
                       {"app/other.exe", {"b.dll:g"}},
                       {"app/a.dll", {"x.dll:h", "x.dll:h"}, {"f"}},
                       {"app/b.dll", {"x.dll:h", "x.dll:gone"}, {"g"}},
                       {"app/x.dll", {}, {"h=y.h", "gone=y.gone"}},
                       {"app/y.dll", {}, {"h"}}});
    DependencyResolver resolver(table, {{}, at("sys"), {}});
    const std::vector<std::string> expected = {"b.dll program", "x.dll program", "y.dll program",
                                               "no x.dll!gone"};
    const DependencyGraph first = resolver.resolve(at("app/app.exe"));
    EXPECT_EQ(first.missing_functions.size(), 1u);
    EXPECT_EQ(summary(resolver.resolve(at("app/other.exe"))), expected);
}

TEST(DependencyResolver, AHostileApiSetSchemaIsSkippedAndFailsTheRun) {
    // 2,000 sets all naming one text of 8,000 characters: more text to read
    // than 16 times the file holds.
    ModuleTable table({{"app/app.exe", {"kernel32.dll:f"}}, {"sys/kernel32.dll", {}, {"f"}}},
                      shared_name_schema(2000, 8000));
    const DependencyGraph graph = resolve(table);
    ASSERT_EQ(graph.skipped.size(), 1u);
    EXPECT_TRUE(graph.skipped[0].limit_passed);
    EXPECT_NE(graph.skipped[0].reason.find("more than 16 x the file's size"), std::string::npos);
    EXPECT_TRUE(graph.failed(false));
}

TEST(DependencyResolver, AFolderPastItsEntryLimitIsSearchedInPartAndSaidSo) {
    // On disk: the listing stops at the limit, entries of every kind counted.
    TempDir dir;
    for (const char* name : {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"}) dir.write(name, {0});
    fs::create_directory(dir.path() / "sub");
    const std::string folder = dir.path().string();
    EXPECT_TRUE(host::regular_file_names(folder, 3).cut);
    EXPECT_LE(host::regular_file_names(folder, 3).names.size(), 3u);
    EXPECT_FALSE(host::regular_file_names(folder, 6).cut);
    EXPECT_EQ(host::regular_file_names(folder, 6).names.size(), 5u);

    // A module not in the part listed may lie in the rest: the run fails.
    ModuleTable table(
        {{"app/app.exe", {"far.dll:f", "kernel32.dll:g"}}, {"sys/kernel32.dll", {}, {"g"}}});
    table.cut_folders.insert(at("sys"));
    const DependencyGraph graph = resolve(table);
    ASSERT_EQ(graph.skipped.size(), 1u);
    EXPECT_EQ(graph.skipped[0].path, at("sys"));
    EXPECT_NE(graph.skipped[0].reason.find("more than 1,000,000 entries"), std::string::npos);
    EXPECT_TRUE(graph.skipped[0].limit_passed);
    EXPECT_TRUE(graph.failed(false));
}

TEST(DependencyTree, AChainAsDeepAsTheGraphPrintsEachModuleOnceInShortLines) {
    // 100,000 modules each importing the next, and each also the first one
    // below the root: far deeper than a call stack holds one frame a level.
    constexpr std::size_t depth = 100'000;
    ModuleFile file;
    file.machine = i386;
    file.path = "m.dll";
    DependencyGraph graph;
    graph.root = "app.exe";
    graph.nodes.resize(depth + 1);
    for (std::size_t i = 0; i <= depth; ++i) {
        graph.nodes[i].name = "m" + std::to_string(i) + ".dll";
        graph.nodes[i].file = &file;
        graph.nodes[i].delay = false;
        if (i < depth) graph.nodes[i].children.push_back({i + 1, false, false});
        if (i > 1) graph.nodes[i].children.push_back({1, false, false});
    }
    const std::string text = host::dependency_tree_text(graph);
    std::size_t lines = 0, longest = 0, full = 0;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1, ++lines) {
        end = text.find('\n', start);
        longest = std::max(longest, end - start);
        full += text.compare(end - 5, 5, "m.dll") == 0;
    }
    EXPECT_EQ(lines, 1 + depth + (depth - 1));
    EXPECT_EQ(full, depth);
    EXPECT_LE(longest, 2 * 32 + 50u);
    EXPECT_NE(text.find("\n" + std::string(64, ' ') + "[100000] m100000.dll  m.dll\n"),
              std::string::npos);
}

// Hand-made graph: app.exe imports a.dll and delay-loads c.dll; a.dll
// imports b.dll and zlib1.dll; b.dll imports zlib1.dll and a.dll again (a
// loop); c.dll forwards to zlib1.dll.
DependencyGraph chain_graph() {
    DependencyGraph graph;
    graph.root = "app.exe";
    for (const char* name : {"app.exe", "a.dll", "b.dll", "zlib1.dll", "c.dll"})
        graph.nodes.push_back({.name = name});
    graph.nodes[0].children = {{1, false, false}, {4, true, false}};
    graph.nodes[1].children = {{2, false, false}, {3, false, false}};
    graph.nodes[2].children = {{3, false, false}, {1, false, false}};
    graph.nodes[4].children = {{3, true, true}};
    return graph;
}

TEST(DependencyWhy, ChainsComeShortestFirstWithTheirKindOfImport) {
    const DependencyGraph graph = chain_graph();
    const std::string through =
        "app.exe needs zlib1.dll through:\n"
        "  app.exe -> a.dll -> zlib1.dll\n"
        "  app.exe -delay-> c.dll -delay,forwarded-> zlib1.dll\n"
        "  app.exe -> a.dll -> b.dll -> zlib1.dll\n";
    const struct {
        const char* module;
        bool all;
        std::string text;
    } cases[] = {
        {"zlib1.dll", false, through},
        {"ZLIB1", false, through},  // the loader's name: any case, ".dll" added
        {"b.dll", false, "app.exe needs b.dll through:\n  app.exe -> a.dll -> b.dll\n"},
        {"zlib.dll", false,
         "app.exe does not need zlib.dll (what Windows' own DLLs import is walked with --all)\n"},
        {"zlib.dll", true, "app.exe does not need zlib.dll\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            host::import_chains_text(graph, c.module, host::import_chains(graph, c.module), c.all),
            c.text)
            << c.module;
}

TEST(DependencyWhy, AWebOfChainsIsCutAtItsBound) {
    // Twelve layers of two modules, each importing both of the next: 4,096
    // chains of equal length to end.dll, which the last layer imports.
    DependencyGraph graph;
    graph.nodes.resize(26);  // the root, the layers, end.dll
    graph.nodes[25].name = "end.dll";
    for (std::size_t node = 0; node < 25; ++node)
        for (const std::size_t next : {(node + 1) / 2 * 2 + 1, (node + 1) / 2 * 2 + 2})
            if (next <= 25) graph.nodes[node].children.push_back({next, false, false});
    const auto found = host::import_chains(graph, "end.dll");
    EXPECT_EQ(found.chains.size(), host::max_import_chains);
    EXPECT_TRUE(found.more);
    for (const auto& chain : found.chains) EXPECT_EQ(chain.size(), 13u);
}

TEST(DependencyWhy, AMissingModuleSaysWhyWhenItCan) {
    DependencyGraph graph = chain_graph();
    graph.skipped = {{"wide.dll", at("app/wide.dll"), "found x86-64 wide.dll", false, x86_64},
                     {"bad.dll", at("app/bad.dll"), "is damaged: cut short", false, 0}};
    const struct {
        const char* name;
        std::string reason;
    } cases[] = {
        {"bcryptprimitives.dll", "missing here; part of Windows 7 and later"},
        {"MFC42", "missing here; part of Windows 2000 and later"},
        {"appwiz.cpl", "missing here; part of Windows"},
        {"zlib1.dll", ""},
        {"wide.dll",
         "a file of that name was passed over: " + at("app/wide.dll") + " is built for x86-64"},
        {"bad.dll",
         "a file of that name was passed over: " + at("app/bad.dll") + " is damaged: cut short"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(host::missing_reason(graph, {.name = c.name}), c.reason) << c.name;
}

TEST(DependencyWhy, WinesOwnBuildsAreToldByTheirStub) {
    PeBuilder b;
    b.lfanew(0x80).section({.virtual_address = 0x1000, .data = Bytes(0x200, 1)});
    const Bytes plain = b.build();
    const auto marked = [&](const std::string& mark) {
        Bytes file = plain;
        std::copy(mark.begin(), mark.end(), file.begin() + 0x40);
        return file;
    };
    const Bytes builtin = marked("Wine builtin DLL");
    const struct {
        Bytes file;
        bool wine;
    } cases[] = {
        {builtin, true},
        {marked("Wine placeholder DLL"), true},
        {marked("Wine builtin"), false},
        {plain, false},
        {Bytes(builtin.begin(), builtin.begin() + 0x48), false},  // cut inside the mark
    };
    for (const auto& c : cases)
        EXPECT_EQ(host::wine_build_mark(image::ByteView(c.file.data(), c.file.size())), c.wine);
}

}  // namespace
}  // namespace korvex::test
