// libFuzzer target: the input is a small program (deps_program.h) that lays
// out an installation of modules, some written as PE images and read with
// the image readers, the rest given as read tables, with an API-set schema in
// the system folder. The dependency resolver walks each program of it from
// memory; every graph must hold together, stay within what the files read
// could give rise to, and come out the same from a resolver that walked other
// programs first as from a new one, which checks the steps it keeps and replays.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/text.h"
#include "deps/dependency_graph.h"
#include "deps_program.h"

namespace {

using korvex::fuzz::Program;
using korvex::host::DependencyGraph;
using korvex::host::ModuleFile;
using korvex::test::Bytes;
using korvex::test::ExactImage;

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "deps_fuzz: %s\n", what);
    std::abort();
}

// A module given as the table the readers would have made of it.
ModuleFile module_table(const korvex::fuzz::ModuleDraft& draft) {
    ModuleFile file;
    file.machine = draft.wide ? 0x8664 : 0x14C;
    file.ordinal_base = draft.ordinal_base;
    for (const auto& import : draft.imports)
        file.imports.push_back({import.module, import.functions, import.delay});
    for (std::uint32_t slot = 0; slot < draft.exports.size(); ++slot) {
        const auto& made = draft.exports[slot];
        if (!made.name.empty()) file.export_slots.emplace(made.name, slot);
        file.code_slots.push_back(made.forwarder.empty());
        if (!made.forwarder.empty()) file.forwarders.emplace(slot, made.forwarder);
    }
    return file;
}

// The files of one program's installation, each folder listed in the order
// its files were made; the first of two files at one path stays.
struct Installation {
    explicit Installation(const Program& program) {
        const Bytes schema = korvex::fuzz::schema_image(program);
        add(korvex::fuzz::system_folder, "apisetschema.dll", std::make_unique<ExactImage>(schema));
        for (const auto& module : program.modules) {
            if (module.image)
                add(module.folder, module.file_name,
                    std::make_unique<ExactImage>(korvex::fuzz::module_image(module)));
            else if (add(module.folder, module.file_name, nullptr))
                tables.emplace(module.folder + "/" + module.file_name, module_table(module));
        }
    }

    bool add(const std::string& folder, const std::string& name,
             std::unique_ptr<ExactImage> image) {
        const std::string path = folder + "/" + name;
        if (name.empty() || name.find('/') != std::string::npos || !known.insert(path).second)
            return false;
        listings[folder].push_back(name);
        if (image) images.emplace(path, std::move(image));
        return true;
    }

    std::set<std::string> known;
    std::map<std::string, std::vector<std::string>> listings;
    std::map<std::string, std::unique_ptr<ExactImage>> images;
    std::map<std::string, ModuleFile> tables;
};

// One resolver's view of the installation. It counts what the files it
// handed out hold, the ceiling of what a walk over them may produce.
class MemorySource : public korvex::host::ModuleSource {
public:
    explicit MemorySource(const Installation& installation) : files_(installation) {}

    std::unique_ptr<ModuleFile> read(const std::string& path) override {
        require(read_.insert(path).second, "a file read twice by one resolver");
        std::unique_ptr<ModuleFile> file;
        if (const auto image = files_.images.find(path); image != files_.images.end()) {
            file = korvex::host::read_module_image(path,
                                                   {image->second->data(), image->second->size()});
        } else if (const auto table = files_.tables.find(path); table != files_.tables.end()) {
            file = std::make_unique<ModuleFile>(table->second);
            file->path = path;
        } else {
            file = std::make_unique<ModuleFile>();
            file->path = path;
            file->problem = "does not exist";
        }
        require(file->problem.empty() || file->imports.empty(), "a damaged file with imports");
        for (const auto& import : file->imports) functions += import.functions.size();
        names += file->imports.size() + file->forwarders.size();
        return file;
    }

    bool exists(const std::string& path) override {
        return files_.known.contains(path) || files_.listings.contains(path);
    }

    korvex::host::FileNames list_folder(const std::string& folder) override {
        const auto found = files_.listings.find(folder);
        return {found == files_.listings.end() ? std::vector<std::string>{} : found->second};
    }

    std::unique_ptr<korvex::host::ApiSets> read_api_sets(const std::string& path) override {
        const auto found = files_.images.find(path);
        require(found != files_.images.end(), "a schema read from no file listed");
        return std::make_unique<korvex::host::ApiSets>(
            korvex::image::ByteView{found->second->data(), found->second->size()});
    }

    std::size_t functions = 0;  // imported functions in the files read
    std::size_t names = 0;      // module names they give: imports and forwarders

private:
    const Installation& files_;
    std::set<std::string> read_;
};

std::string key_of(const std::string& name) {
    std::string key = korvex::host::lower_ascii(name);
    const auto dot = key.find_last_of('.');
    const auto separator = key.find_last_of("\\/");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        key += ".dll";
    return key;
}

void check_graph(const DependencyGraph& graph, const MemorySource& source) {
    bool missing = !graph.problem.empty() || !graph.missing_functions.empty();
    for (const auto& node : graph.nodes) missing = missing || node.missing();
    require(!missing || graph.failed(true), "failed() misses what is missing");
    require(!graph.failed(false) || graph.failed(true), "failed() without delay loads, not with");
    if (!graph.problem.empty()) {
        require(graph.nodes.empty(), "a graph with a problem has nodes");
        return;
    }
    require(!graph.nodes.empty() && graph.nodes[0].file != nullptr, "no root");
    // Every node but the root comes from a module name in a file read, or
    // is the host of an API set that did.
    require(graph.nodes.size() <= 1 + 2 * source.names, "more modules than names read");
    require(graph.missing_functions.size() <= source.functions, "more missing than imported");
    const std::uint16_t machine = graph.nodes[0].file->machine;
    std::set<std::string> keys;
    for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
        const auto& node = graph.nodes[i];
        // A set has a node for each host it leads to.
        const std::string key = key_of(node.name) + (node.api_set ? '>' + node.host : "");
        require(i == 0 || keys.insert(key).second, "two nodes of one name");
        require(i == 0 || !node.imported_by.empty(), "a module nothing imports");
        require(
            node.file == nullptr || (node.file->problem.empty() && node.file->machine == machine),
            "a module that cannot load in the program");
        require(!node.optional || (node.api_set && node.file == nullptr), "optional, not a set");
        for (const auto& edge : node.children)
            require(edge.node < graph.nodes.size(), "an edge outside the graph");
        // Nothing static leads to a delay-loaded module.
        if (!node.delay && !node.api_set)
            for (const auto& edge : node.children)
                require(edge.delay || !graph.nodes[edge.node].delay,
                        "a static import of a delay-loaded module");
    }
    require(graph.nodes[0].delay == false, "a delay-loaded root");
}

// Everything the graph says, in one text, to compare two walks.
std::string dump(const DependencyGraph& graph) {
    std::string text = graph.problem + '|' + graph.no_system_folder + '\n';
    for (const auto& node : graph.nodes) {
        text += node.name + '|' + (node.file ? node.file->path : "-") + '|' + node.via + '|' +
                node.host + '|' + char('0' + node.system) + char('0' + node.not_windows) +
                char('0' + node.delay) + char('0' + node.api_set) + char('0' + node.optional);
        for (const auto& importer : node.imported_by) text += '<' + importer;
        for (const auto& edge : node.children)
            text += '>' + std::to_string(edge.node) + char('0' + edge.delay) +
                    char('0' + edge.forwarder);
        text += '\n';
    }
    for (const auto& function : graph.missing_functions)
        text += function.module + '!' + function.function + '#' +
                std::to_string(function.ordinal.value_or(0)) + char('0' + !!function.ordinal) +
                '<' + function.imported_by + char('0' + function.delay) + '\n';
    for (const auto& skipped : graph.skipped)
        text += skipped.module + '|' + skipped.path + '|' + skipped.reason + '\n';
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool show = std::getenv("KORVEX_DEPS_FUZZ_SHOW") != nullptr;
    korvex::fuzz::FuzzInput input(data, size);
    const Program program = korvex::fuzz::decode_program(input);
    const Installation installation(program);
    const korvex::host::SearchSettings settings{
        {korvex::fuzz::search_folders[0], korvex::fuzz::search_folders[1]},
        program.system_exists ? korvex::fuzz::system_folder : korvex::fuzz::missing_system_folder,
        {korvex::fuzz::path_folder},
        false};

    if (show)
        std::fprintf(stderr, "%zu modules made, %zu imported functions, %zu API sets\n",
                     program.modules.size(), program.functions, program.api_sets.size());
    // One resolver walks every program, as `korvex deps a.exe b.exe` does.
    MemorySource shared_source(installation);
    korvex::host::DependencyResolver shared(shared_source, settings);
    std::vector<std::string> walked;
    for (const auto& root : program.roots) {
        const DependencyGraph graph = shared.resolve(root);
        check_graph(graph, shared_source);
        // For a look at what a kept input builds: KORVEX_DEPS_FUZZ_SHOW=1 deps_fuzz -runs=0 FILE
        if (show)
            std::fprintf(stderr, "%s: %zu modules, %zu missing functions, %zu skipped %s\n%s",
                         root.c_str(), graph.nodes.size(), graph.missing_functions.size(),
                         graph.skipped.size(), graph.problem.c_str(), dump(graph).c_str());
        walked.push_back(dump(graph));
    }
    // The first again: every step replayed.
    const std::string again = dump(shared.resolve(program.roots.front()));
    if (again != walked.front())
        std::fprintf(stderr, "first:\n%s\nagain:\n%s\n", walked.front().c_str(), again.c_str());
    require(again == walked.front(), "a program walked again differs");
    // Later programs, each by a resolver of its own.
    for (std::size_t i = 1; i < program.roots.size(); ++i) {
        MemorySource source(installation);
        korvex::host::DependencyResolver alone(source, settings);
        const std::string by_itself = dump(alone.resolve(program.roots[i]));
        if (by_itself != walked[i])
            std::fprintf(stderr, "after the others:\n%s\nalone:\n%s\n", walked[i].c_str(),
                         by_itself.c_str());
        require(by_itself == walked[i],
                "a program walked after others differs from the same walked alone");
    }
    return 0;
}
