#include "deps/dependency_graph.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "core/files.h"
#include "core/host_os.h"
#include "core/text.h"
#include "deps/forwarder_memo.h"
#include "deps/windows_dlls.h"
#include "pe/file_view.h"
#include "pe/image_diagnosis.h"
#include "pe/input_budget.h"

namespace korvex::host {

namespace fs = std::filesystem;

namespace {

// Longest name a folder search is tried for (Windows file names stop at 255).
constexpr std::size_t max_file_name = 255;
// Forwarders followed for one import before it counts as not found: real
// chains are one or two long; a loop of forwarders ends here.
constexpr int max_forwarder_hops = 16;

std::string folder_key(const std::string& folder) {
    std::error_code error;
    fs::path absolute = fs::absolute(fs::path(folder), error);
    if (error) absolute = fs::path(folder);
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
    return text;
}

// The loader's name for a module: ".dll" added when the name has no extension.
std::string with_extension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    const auto separator = name.find_last_of("\\/");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return name + ".dll";
    return name;
}

// A module name that can be looked for in a folder: not empty, no path parts,
// no longer than a file name may be.
bool plain_file_name(const std::string& name) {
    return !name.empty() && name.size() <= max_file_name && name != "." && name != ".." &&
           name.find_first_of("/\\:") == std::string::npos && name.find('\0') == std::string::npos;
}

std::string file_name_of(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

bool DependencyGraph::failed(bool delay_counts) const {
    if (!problem.empty()) return true;
    for (const auto& node : nodes)
        if (node.missing() && (delay_counts || !node.delay)) return true;
    for (const auto& function : missing_functions)
        if (delay_counts || !function.delay) return true;
    for (const auto& file : skipped)
        if (file.limit_passed) return true;
    return !manifest_problem.empty() || !missing_assemblies.empty();
}

namespace {
// Thrown inside a walk whose graph passes its InputBudget; resolve() turns
// it into the root's problem.
struct WalkRefused {};
}  // namespace

// One program's walk: the nodes by name, the queues, the folders in order.
class GraphWalk {
public:
    GraphWalk(DependencyResolver& resolver, DependencyGraph& graph, const ModuleFile& root,
              std::vector<WalkKey>& fresh)
        : resolver_(resolver),
          graph_(graph),
          machine_(root.machine),
          system_(resolver.system_folder(root.machine)),
          api_sets_(resolver.api_sets(system_)),
          budget_(root.size),
          fresh_(fresh) {
        folders_.push_back({folder_key(fs::path(root.path).parent_path().string()), via_program});
        context_ = folders_.front().path + '\n' + std::to_string(machine_);
        for (const auto& folder : resolver.settings_.search)
            folders_.push_back({folder_key(folder), via_search});
        if (!system_.empty()) folders_.push_back({system_, via_system});
        if (system_.empty())
            graph_.no_system_folder = "there is no system folder for " + machine_text(machine_) +
                                      " programs here (--system names one)";
        else if (!resolver.source_.exists(system_))
            graph_.no_system_folder = "the system folder " + system_ + " does not exist";
        for (const auto& folder : resolver.settings_.path)
            folders_.push_back({folder_key(folder), via_path});
        if (!api_sets_.problem().empty())
            if (const std::string* schema =
                    resolver.folder_names_.find(system_, "apisetschema.dll"))
                skip("apisetschema.dll", joined_path(system_, *schema), api_sets_.problem(), true);

        DependencyNode node;
        node.name = file_name_of(graph.root);
        node.file = &root;
        node.delay = false;
        graph_.nodes.push_back(std::move(node));
        importers_.emplace_back();
        by_name_.emplace(lower_ascii(with_extension(graph_.nodes[0].name)), 0);
        node_context_.push_back(no_context);
        if (const ManifestFacts* manifest = program_manifest(root)) {
            if (!manifest->problem.empty()) {
                graph_.manifest_problem = manifest->problem;
            } else {
                node_context_[0] = add_context(*manifest, folders_.front().path, {});
                context_ += '\n' + contexts_.back().key;
            }
        }
        static_queue_.push_back(0);
    }

    void run() {
        // Everything reachable without a delay-load import is walked first, so
        // a module is marked delay-loaded only when nothing else needs it.
        while (!static_queue_.empty() || !delay_queue_.empty()) {
            auto& queue = static_queue_.empty() ? delay_queue_ : static_queue_;
            const std::size_t index = queue.front();
            queue.pop_front();
            if (processed_.size() <= index) processed_.resize(index + 1, false);
            if (processed_[index]) continue;
            processed_[index] = true;
            process(index);
        }
    }

private:
    struct Folder {
        std::string path;
        const char* rule;
    };

    static constexpr std::size_t no_context = ~std::size_t{0};

    // A program's activation context comes from its manifest resource 1,
    // or else the APP.exe.manifest file beside it; a DLL given as the
    // program has only its resource 2.
    const ManifestFacts* program_manifest(const ModuleFile& root) {
        if (root.manifest_1) return root.manifest_1.get();
        if (const ManifestFacts* file =
                resolver_.assemblies().manifest_file(root.path + ".manifest"))
            return file;
        return root.manifest_2.get();
    }

    std::size_t add_context(const ManifestFacts& manifest, const std::string& folder,
                            const std::string& owner) {
        contexts_.push_back(resolver_.assemblies().context_for(manifest, folder, machine_));
        const auto keep = [&](const std::vector<std::string>& from,
                              std::vector<std::string>& into) {
            for (const auto& assembly : from) {
                charge(assembly.size() + owner.size() + 2 * InputBudget::string_bytes);
                into.push_back(owner.empty() ? assembly : assembly + " (for " + owner + ")");
            }
        };
        keep(contexts_.back().missing, graph_.missing_assemblies);
        keep(contexts_.back().unsearched, graph_.unsearched_assemblies);
        return contexts_.size() - 1;
    }

    // A DLL with a manifest of its own (resource 2) has its imports looked
    // up in the context that manifest makes; any other module in the
    // context of the module that loaded it.
    void take_own_context(std::size_t index) {
        const DependencyNode& node = graph_.nodes[index];
        if (node.file == nullptr || node.api_set || !node.file->manifest_2 ||
            !node.file->manifest_2->problem.empty())
            return;
        node_context_[index] = add_context(
            *node.file->manifest_2, fs::path(node.file->path).parent_path().string(), node.name);
    }

    // The file an assembly of the module's context names, taken before any
    // folder is searched; false when there is none, or it cannot be used.
    bool take_side_by_side(std::size_t index, const std::string& key) {
        const std::size_t context = node_context_[index];
        if (context == no_context) return false;
        const auto found = contexts_[context].files.find(key);
        if (found == contexts_[context].files.end()) return false;
        const SideBySideFile& assembly_file = found->second;
        const ModuleFile& file = resolver_.load(assembly_file.path);
        const std::string& name = graph_.nodes[index].name;
        if (!file.problem.empty()) {
            skip(name, assembly_file.path, file.problem, file.limit_passed);
            return false;
        }
        if (file.machine != machine_) {
            skip(name, assembly_file.path,
                 "found " + machine_text(file.machine) + " " + file_name_of(assembly_file.path) +
                     " in its assembly, skipped",
                 false);
            return false;
        }
        budget_.grant_file(file.size);
        DependencyNode& node = graph_.nodes[index];
        node.file = &file;
        if (node.via.empty()) node.via = via_side_by_side;
        node.side_by_side = assembly_file.assembly;
        // What comes from Windows' store is installed there, never the
        // program's to copy beside it.
        node.system = assembly_file.store;
        return true;
    }

    // A module's imports are checked once per folder and machine: the steps
    // that checking took (which modules each import and forwarder led to,
    // which functions were missing) depend on nothing else, so every later
    // program of the same folder replays them instead of looking up each
    // function again.
    void process(std::size_t index) {
        const ModuleFile* file = graph_.nodes[index].file;
        if (file == nullptr || graph_.nodes[index].api_set) return;
        // What a DLL of Windows imports comes with Windows wherever the
        // program runs (Wine's user32 imports zlib1, Windows' does not): it
        // is not the program's to bring, nor a failure of it when missing.
        // The functions the program imports from such a DLL are still
        // followed through its forwarders.
        if (graph_.nodes[index].system && !resolver_.settings_.all) return;
        auto [known, fresh] = resolver_.walk_steps_.try_emplace({context_, file});
        std::vector<WalkStep>& steps = known->second;
        if (!fresh) {
            for (const auto& step : steps) replay(index, *file, step);
            return;
        }
        fresh_.push_back(known->first);
        recorded_.clear();
        for (std::size_t i = 0; i < file->imports.size(); ++i) {
            const ModuleImport& import = file->imports[i];
            const bool delay = graph_.nodes[index].delay || import.delay;
            keep_step(steps, {WalkStep::Kind::import, i, {}, {}, nullptr});
            const std::size_t child = replay(index, *file, steps.back());
            for (const auto& function : import.functions)
                check_function(child, i, function, index, delay, steps);
        }
    }

    void keep_step(std::vector<WalkStep>& steps, WalkStep step) {
        charge(2 * wide_size<WalkStep, 88>() + step.from.size() + step.to.size());
        steps.push_back(std::move(step));
    }

    void charge(std::uint64_t bytes) {
        if (!budget_.take(bytes)) throw WalkRefused{};
    }

    // Takes one step; answers the node an import step leads to.
    std::size_t replay(std::size_t index, const ModuleFile& file, const WalkStep& step) {
        const ModuleImport& import = file.imports[step.import];
        const bool delay = graph_.nodes[index].delay || import.delay;
        switch (step.kind) {
            case WalkStep::Kind::import: {
                const std::size_t child = node_for(import.module, index, delay);
                add_edge(index, child, import.delay, false);
                return child;
            }
            case WalkStep::Kind::forward: {
                // The forwarding module was reached by an earlier step.
                const auto from = by_name_.find(step.from);
                if (from == by_name_.end()) return index;
                add_edge(from->second, node_for(step.to, from->second, delay), delay, true);
                return from->second;
            }
            case WalkStep::Kind::missing:
                report_missing(import.module, *step.function, index, delay);
                return index;
        }
        return index;
    }

    void report_missing(const std::string& module, const ImportedFunction& function,
                        std::size_t importer, bool delay) {
        charge(2 * wide_size<MissingFunction, 112>() + module.size() + function.name.size() +
               graph_.nodes[importer].name.size());
        graph_.missing_functions.push_back(
            {module, function.name, function.ordinal, graph_.nodes[importer].name, delay});
    }

    void add_edge(std::size_t from, std::size_t to, bool delay, bool forwarder) {
        auto& children = graph_.nodes[from].children;
        const auto [known, fresh] = edges_.try_emplace(edge_key(from, to), children.size());
        if (fresh) {
            charge(2 * wide_size<DependencyNode::Edge, 16>() + InputBudget::node_overhead);
            children.push_back({to, delay, forwarder});
            return;
        }
        // A plain static import says more than a delay-load or forwarded one.
        DependencyNode::Edge& edge = children[known->second];
        edge.delay = edge.delay && delay;
        edge.forwarder = edge.forwarder && forwarder;
    }

    static std::uint64_t edge_key(std::size_t from, std::size_t to) {
        return std::uint64_t{from} << 32 | std::uint64_t{to};
    }

    // A module first met through a delay-load import and now through a
    // static one: it and what it leads to are walked as static.
    void make_static(std::size_t index) {
        if (!graph_.nodes[index].delay) return;
        graph_.nodes[index].delay = false;
        static_queue_.push_back(index);
        // An API set is not walked itself: its host is.
        if (graph_.nodes[index].api_set)
            for (const auto& edge : graph_.nodes[index].children) make_static(edge.node);
    }

    // The node of module `name`, found (and queued) when it is new. The host
    // an API set names is not itself looked up as a set. The loader resolves
    // an API set for each importing module, and the schema may give
    // importers hosts of their own: a set has a node for each host it leads
    // to, so one importer's answer never stands for another's.
    std::size_t node_for(const std::string& name, std::size_t importer, bool delay,
                         bool api_set_allowed = true) {
        const std::string key = lower_ascii(with_extension(name));
        ApiSets::Resolution set;
        if (api_set_allowed && is_api_set_name(name))
            // The schema names importers by file name: "m1" imported is m1.dll.
            set = api_sets_.resolve(key, with_extension(file_name_of(graph_.nodes[importer].name)));
        const std::string node_key = set.known ? key + '\0' + lower_ascii(set.host) : key;
        const std::string& importer_name = graph_.nodes[importer].name;
        if (const auto found = by_name_.find(node_key); found != by_name_.end()) {
            if (importers_[found->second].insert(importer).second) {
                charge(2 * InputBudget::string_bytes + importer_name.size() +
                       InputBudget::node_overhead);
                graph_.nodes[found->second].imported_by.push_back(importer_name);
            }
            if (!delay) make_static(found->second);
            return found->second;
        }
        const std::size_t index = graph_.nodes.size();
        charge(2 * wide_size<DependencyNode, 200>() + 2 * name.size() +
               2 * InputBudget::string_bytes + importer_name.size() + node_key.size() +
               3 * InputBudget::node_overhead);
        DependencyNode node;
        node.name = name;
        node.delay = delay;
        node.imported_by.push_back(importer_name);
        graph_.nodes.push_back(std::move(node));
        importers_.push_back({importer});
        node_context_.push_back(node_context_[importer]);
        by_name_.emplace(node_key, index);
        if (set.known) {
            resolve_api_set(index, key, set.host, delay);
        } else {
            find_file(index, key);
            take_own_context(index);
        }
        (delay ? delay_queue_ : static_queue_).push_back(index);
        return index;
    }

    // Points the node of a set the schema knows at `host` (none: the set
    // has no host here).
    void resolve_api_set(std::size_t index, const std::string& key, const std::string& host,
                         bool delay) {
        graph_.nodes[index].api_set = true;
        graph_.nodes[index].via = via_api_set;
        if (host.empty()) {
            graph_.nodes[index].optional = key.rfind("ext-", 0) == 0;
            return;
        }
        graph_.nodes[index].host = host;
        const bool new_host = by_name_.find(lower_ascii(with_extension(host))) == by_name_.end();
        const std::size_t host_node = node_for(host, index, delay, false);
        if (new_host) graph_.nodes[host_node].via = graph_.nodes[index].name;
        add_edge(index, host_node, false, false);
        DependencyNode& node = graph_.nodes[index];
        node.file = graph_.nodes[host_node].file;
        node.system = graph_.nodes[host_node].system;
        node.not_windows = graph_.nodes[host_node].not_windows;
    }

    void find_file(std::size_t index, const std::string& key) {
        if (!plain_file_name(key)) return;
        if (take_side_by_side(index, key)) return;
        // A KnownDLL is mapped from the system folder whatever lies beside
        // the program.
        const bool known = !system_.empty() && is_known_dll(key);
        for (const auto& folder : folders_) {
            if (known && folder.rule != via_system) continue;
            const std::string* actual = resolver_.folder_names_.find(folder.path, key);
            if (actual == nullptr) {
                // The module may lie in the part of the folder not listed.
                if (resolver_.folder_names_.cut(folder.path))
                    skip(graph_.nodes[index].name, folder.path,
                         "holds more than " + with_thousands(max_folder_entries) +
                             " entries, the limit per folder: the rest were not searched",
                         true);
                continue;
            }
            const std::string path = joined_path(folder.path, *actual);
            const ModuleFile& file = resolver_.load(path);
            const std::string& name = graph_.nodes[index].name;
            if (!file.problem.empty()) {
                skip(name, path, file.problem, file.limit_passed);
                continue;
            }
            if (file.machine != machine_) {
                skip(name, path,
                     "found " + machine_text(file.machine) + " " + *actual + " in " + folder.path +
                         ", skipped",
                     false, file.machine);
                continue;
            }
            budget_.grant_file(file.size);
            DependencyNode& node = graph_.nodes[index];
            node.file = &file;
            if (node.via.empty()) node.via = folder.rule;
            const bool in_system = folder.rule == via_system;
            // What the system folder holds beyond Windows' own DLLs (Wine's
            // holds the Visual C++ runtimes, zlib1, ...) is the program's to bring.
            node.system = in_system && shipped_by_windows(lower_ascii(*actual));
            node.not_windows = in_system && !node.system;
            return;
        }
    }

    void skip(const std::string& module, const std::string& path, const std::string& reason,
              bool limit_passed, std::uint16_t machine = 0) {
        if (!skipped_paths_.insert(path).second) return;
        charge(module.size() + 2 * path.size() + reason.size() + wide_size<SkippedFile, 104>() +
               InputBudget::node_overhead);
        graph_.skipped.push_back({module, path, reason, limit_passed, machine});
    }

    // The export table's answer for `key`. The table answers code or missing
    // in one look-up; a forwarder's parsed answer comes from the memo when it
    // is there, so that only forwarders take room in it.
    ExportAnswer look_up(const ExportKey& key) {
        const ModuleFile& file = *graph_.nodes[key.node].file;
        const ExportLookup found =
            key.by_ordinal ? file.find_export(key.ordinal) : file.find_export(key.name);
        ExportAnswer answer;
        if (found.kind == ExportLookup::Kind::code) answer.kind = ExportAnswer::Kind::code;
        if (found.kind != ExportLookup::Kind::forwarder) return answer;
        if (const ExportAnswer* known = memo_.find(key)) return *known;
        parse_forwarder(found.forwarder, answer);
        if (budget_.left() > ForwarderMemo::entry_bytes + answer.module.size() &&
            memo_.keep(key, answer))
            charge(ForwarderMemo::entry_bytes + answer.module.size());
        return answer;
    }

    // "MODULE.Name" or "MODULE.#12"; anything else is missing.
    static void parse_forwarder(std::string_view forwarder, ExportAnswer& answer) {
        const auto dot = forwarder.find_last_of('.');
        if (dot == std::string_view::npos || dot == 0) return;
        const std::string_view name = forwarder.substr(dot + 1);
        if (name.size() > 1 && name[0] == '#') {
            const std::string_view digits = name.substr(1);
            if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
                return;
            const unsigned long value = std::stoul(std::string(digits));
            if (value > 0xFFFF) return;
            answer.by_ordinal = true;
            answer.ordinal = static_cast<std::uint16_t>(value);
        }
        answer.kind = ExportAnswer::Kind::forwarder;
        answer.module = with_extension(std::string(forwarder.substr(0, dot)));
        answer.name = name;
    }

    // Follows one imported function through at most max_forwarder_hops
    // forwarders. Each forwarder edge is taken (and kept as a step) once per
    // module walked and load kind; every further function through it only
    // looks it up, so the work is linear in the functions whatever the
    // chains share.
    void check_function(std::size_t target, std::size_t import, const ImportedFunction& function,
                        std::size_t importer, bool delay, std::vector<WalkStep>& steps) {
        ExportKey key{target, function.name, function.ordinal.value_or(0),
                      function.ordinal.has_value()};
        for (int hop = 0; hop <= max_forwarder_hops; ++hop) {
            // A module that is missing is reported once, not with each function.
            if (graph_.nodes[key.node].file == nullptr) return;
            // A set's exports are its host's, and so are the forwarders among
            // them: the host forwards, and names the forwarded module's sets
            // as their importer.
            if (graph_.nodes[key.node].api_set)
                key.node = graph_.nodes[key.node].children.front().node;
            const ExportAnswer answer = look_up(key);
            if (answer.kind == ExportAnswer::Kind::code) return;
            if (answer.kind == ExportAnswer::Kind::missing) break;
            const std::size_t forwarding = key.node;
            std::size_t next = 0;
            const auto taken = recorded_.find({forwarding, answer.module, delay});
            if (taken != recorded_.end()) {
                next = taken->second;
            } else {
                keep_step(steps, {WalkStep::Kind::forward, import,
                                  lower_ascii(with_extension(graph_.nodes[forwarding].name)),
                                  answer.module, nullptr});
                next = node_for(answer.module, forwarding, delay);
                add_edge(forwarding, next, delay, true);
                charge(answer.module.size() + 2 * InputBudget::node_overhead);
                recorded_.emplace(ForwardTaken{forwarding, answer.module, delay}, next);
            }
            key = {next, answer.name, answer.ordinal, answer.by_ordinal};
        }
        keep_step(steps, {WalkStep::Kind::missing, import, {}, {}, &function});
        report_missing(graph_.nodes[importer].file->imports[import].module, function, importer,
                       delay);
    }

    // A forwarder edge taken while walking one module: from the forwarding
    // node to the module named, for a delay-load import or not.
    struct ForwardTaken {
        std::size_t from;
        std::string to;
        bool delay;
        bool operator==(const ForwardTaken&) const = default;
    };
    struct ForwardTakenHash {
        std::size_t operator()(const ForwardTaken& taken) const {
            return std::hash<std::string>{}(taken.to) ^ (taken.from * 0x9E3779B97F4A7C15ull) ^
                   (taken.delay ? 1 : 0);
        }
    };

    DependencyResolver& resolver_;
    DependencyGraph& graph_;
    std::string context_;  // the program's folder and machine: what the steps depend on
    std::uint16_t machine_;
    std::string system_;
    const ApiSets& api_sets_;
    std::vector<Folder> folders_;
    std::unordered_map<std::string, std::size_t> by_name_;
    std::deque<std::size_t> static_queue_, delay_queue_;
    std::vector<bool> processed_;
    InputBudget budget_;  // the root file's: what its graph may keep
    // Beside graph_.nodes: each node's importers, each edge's place among
    // its node's children, so that neither is searched.
    std::vector<std::unordered_set<std::size_t>> importers_;
    std::unordered_map<std::uint64_t, std::size_t> edges_;
    std::unordered_set<std::string> skipped_paths_;
    ForwarderMemo memo_;
    std::unordered_map<ForwardTaken, std::size_t, ForwardTakenHash> recorded_;
    std::vector<WalkKey>& fresh_;  // the steps made by this walk, forgotten if it is refused
    // The activation contexts of the walk, and the one each node's imports
    // are looked up in (no_context: none).
    std::deque<ActivationContext> contexts_;
    std::vector<std::size_t> node_context_;
};

namespace {

bool names_api_set_schema(const std::string& path) {
    return lower_ascii(path.substr(path.find_last_of("\\/") + 1)) == "apisetschema.dll";
}

}  // namespace

ModuleFiles::SchemaFile& ModuleFiles::schema_file(const std::string& path) {
    auto [found, fresh] = schema_files_.try_emplace(path);
    SchemaFile& file = found->second;
    if (fresh) {
        FileView view;
        if (file_problem(path).empty() && view.open(path)) {
            const auto image = image::PeImage::parse(view.bytes());
            file = {read_module_image(path, image), std::make_unique<ApiSets>(image)};
            file.module->identity = view.identity();
        } else
            file = {read_module_file(path), std::make_unique<ApiSets>()};
    }
    return file;
}

std::unique_ptr<ModuleFile> ModuleFiles::read(const std::string& path) {
    if (!names_api_set_schema(path)) return read_module_file(path);
    // Asked again once taken: read afresh.
    if (!schema_file(path).module) schema_files_.erase(path);
    return std::move(schema_file(path).module);
}

bool ModuleFiles::exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(native_path(path), error);
}

FileNames ModuleFiles::list_folder(const std::string& folder) { return regular_file_names(folder); }

std::optional<std::string> ModuleFiles::read_manifest(const std::string& path) {
    if (!file_problem(path).empty()) return std::nullopt;
    FileView view;
    if (!view.open(path) || view.bytes().size() > max_manifest_bytes) return std::nullopt;
    const image::ByteView bytes = view.bytes();
    const std::uint8_t* data = bytes.at(0, bytes.size());
    if (data == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(data), bytes.size());
}

std::unique_ptr<ApiSets> ModuleFiles::read_api_sets(const std::string& path) {
    if (!schema_file(path).sets) schema_files_.erase(path);
    return std::move(schema_file(path).sets);
}

DependencyResolver::DependencyResolver(ModuleSource& source, SearchSettings settings)
    : source_(source),
      settings_(std::move(settings)),
      assemblies_(
          {folder_names_, [this](const std::string& path) { return source_.read_manifest(path); },
           [this](const std::string& path) -> const ModuleFile& { return load(path); }},
          settings_.windows.empty() ? default_windows_folder() : folder_key(settings_.windows)) {}

DependencyResolver::~DependencyResolver() = default;

const std::string& DependencyResolver::system_folder(std::uint16_t machine) {
    auto found = system_folders_.find(machine);
    if (found == system_folders_.end()) {
        std::string folder =
            settings_.system.empty() ? default_system_folder(machine) : settings_.system;
        // A Windows folder named (a Wine prefix's, natively) brings its own
        // system folder: SysWOW64 holds a 64-bit Windows' 32-bit DLLs.
        if (settings_.system.empty() && !settings_.windows.empty()) {
            const fs::path windows(settings_.windows);
            folder = (windows / "system32").string();
            if (machine == image::machine_i386 && source_.exists((windows / "syswow64").string()))
                folder = (windows / "syswow64").string();
        }
        found =
            system_folders_.emplace(machine, folder.empty() ? folder : folder_key(folder)).first;
    }
    return found->second;
}

const ModuleFile& DependencyResolver::load(const std::string& path) {
    auto& slot = files_[path];
    if (!slot) slot = source_.read(path);
    return *slot;
}

const ApiSets& DependencyResolver::api_sets(const std::string& system) {
    auto& slot = api_sets_[system];
    if (!slot) {
        const std::string* schema =
            system.empty() ? nullptr : folder_names_.find(system, "apisetschema.dll");
        slot = schema ? source_.read_api_sets(joined_path(system, *schema))
                      : std::make_unique<ApiSets>();
    }
    return *slot;
}

DependencyGraph DependencyResolver::resolve(const std::string& root) {
    DependencyGraph graph;
    graph.root = root;
    std::error_code error;
    std::string path = fs::absolute(fs::path(root), error).lexically_normal().string();
    if (error) path = root;
    if (!source_.exists(path)) {
        // The program's own name matches in any case too.
        const fs::path given(path);
        if (const auto* actual = folder_names_.find(given.parent_path().string(),
                                                    lower_ascii(given.filename().string())))
            path = joined_path(given.parent_path().string(), *actual);
    }
    const ModuleFile& file = load(path);
    if (!file.problem.empty()) {
        graph.problem = file.problem;
        return graph;
    }
    // A graph past its root's budget, or one that runs out of memory, is
    // the root's problem; the steps it was making are forgotten, so that no
    // later program replays half of them.
    std::vector<WalkKey> fresh;
    try {
        GraphWalk walk(*this, graph, file, fresh);
        walk.run();
        return graph;
    } catch (const WalkRefused&) {
        graph.problem = InputBudget::refusal(file.size) + " in its dependency graph";
    } catch (const std::bad_alloc&) {
        graph.problem = "could not be walked: korvex ran out of memory on its dependency graph";
    }
    for (const auto& key : fresh) walk_steps_.erase(key);
    graph.nodes.clear();
    graph.missing_functions.clear();
    graph.skipped.clear();
    return graph;
}

}  // namespace korvex::host
