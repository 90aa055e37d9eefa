#include "deps/dependency_graph.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <system_error>

#include "core/diagnosis.h"
#include "core/file_view.h"
#include "core/host_os.h"
#include "core/text.h"
#include "deps/windows_dlls.h"

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
    return false;
}

// One program's walk: the nodes by name, the queues, the folders in order.
class GraphWalk {
public:
    GraphWalk(DependencyResolver& resolver, DependencyGraph& graph, const ModuleFile& root)
        : resolver_(resolver),
          graph_(graph),
          machine_(root.machine),
          system_(resolver.system_folder(root.machine)),
          api_sets_(resolver.api_sets(system_)) {
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

        DependencyNode node;
        node.name = file_name_of(graph.root);
        node.file = &root;
        node.delay = false;
        graph_.nodes.push_back(std::move(node));
        by_name_.emplace(lower_ascii(with_extension(graph_.nodes[0].name)), 0);
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

    // A module's imports are checked once per folder and machine: the steps
    // that checking took (which modules each import and forwarder led to,
    // which functions were missing) depend on nothing else, so every later
    // program of the same folder replays them instead of looking up each
    // function again.
    void process(std::size_t index) {
        const ModuleFile* file = graph_.nodes[index].file;
        if (file == nullptr || graph_.nodes[index].api_set) return;
        auto [known, fresh] = resolver_.walk_steps_.try_emplace({context_, file});
        std::vector<WalkStep>& steps = known->second;
        if (!fresh) {
            for (const auto& step : steps) replay(index, *file, step);
            return;
        }
        for (std::size_t i = 0; i < file->imports.size(); ++i) {
            const ModuleImport& import = file->imports[i];
            const bool delay = graph_.nodes[index].delay || import.delay;
            steps.push_back({WalkStep::Kind::import, i, {}, {}, nullptr});
            const std::size_t child = replay(index, *file, steps.back());
            for (const auto& function : import.functions)
                check_function(child, i, function, index, delay, steps);
        }
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
                graph_.missing_functions.push_back({import.module, step.function->name,
                                                    step.function->ordinal,
                                                    graph_.nodes[index].name, delay});
                return index;
        }
        return index;
    }

    void add_edge(std::size_t from, std::size_t to, bool delay, bool forwarder) {
        auto& children = graph_.nodes[from].children;
        const auto known =
            std::find_if(children.begin(), children.end(),
                         [&](const DependencyNode::Edge& edge) { return edge.node == to; });
        if (known == children.end()) {
            children.push_back({to, delay, forwarder});
            return;
        }
        // A plain static import says more than a delay-load or forwarded one.
        known->delay = known->delay && delay;
        known->forwarder = known->forwarder && forwarder;
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
    // an API set names is not itself looked up as a set.
    std::size_t node_for(const std::string& name, std::size_t importer, bool delay,
                         bool api_set_allowed = true) {
        const std::string key = lower_ascii(with_extension(name));
        const std::string& importer_name = graph_.nodes[importer].name;
        if (const auto found = by_name_.find(key); found != by_name_.end()) {
            DependencyNode& node = graph_.nodes[found->second];
            if (std::find(node.imported_by.begin(), node.imported_by.end(), importer_name) ==
                node.imported_by.end())
                node.imported_by.push_back(importer_name);
            if (!delay) make_static(found->second);
            return found->second;
        }
        const std::size_t index = graph_.nodes.size();
        DependencyNode node;
        node.name = name;
        node.delay = delay;
        node.imported_by.push_back(importer_name);
        graph_.nodes.push_back(std::move(node));
        by_name_.emplace(key, index);
        if (!api_set_allowed || !is_api_set_name(name) ||
            !resolve_api_set(index, key, importer, delay))
            find_file(index, key);
        (delay ? delay_queue_ : static_queue_).push_back(index);
        return index;
    }

    // True when the schema knows the set (the node is then resolved); false
    // sends the name on to the folder search, as the loader does.
    bool resolve_api_set(std::size_t index, const std::string& key, std::size_t importer,
                         bool delay) {
        const auto resolution = api_sets_.resolve(key, file_name_of(graph_.nodes[importer].name));
        if (!resolution.known) return false;
        graph_.nodes[index].api_set = true;
        graph_.nodes[index].via = via_api_set;
        if (resolution.host.empty()) {
            graph_.nodes[index].optional = key.rfind("ext-", 0) == 0;
            return true;
        }
        graph_.nodes[index].host = resolution.host;
        const bool new_host =
            by_name_.find(lower_ascii(with_extension(resolution.host))) == by_name_.end();
        const std::size_t host = node_for(resolution.host, index, delay, false);
        if (new_host) graph_.nodes[host].via = graph_.nodes[index].name;
        add_edge(index, host, false, false);
        DependencyNode& node = graph_.nodes[index];
        node.file = graph_.nodes[host].file;
        node.system = graph_.nodes[host].system;
        node.not_windows = graph_.nodes[host].not_windows;
        return true;
    }

    void find_file(std::size_t index, const std::string& key) {
        if (!plain_file_name(key)) return;
        // A KnownDLL is mapped from the system folder whatever lies beside
        // the program.
        const bool known = !system_.empty() && is_known_dll(key);
        for (const auto& folder : folders_) {
            if (known && folder.rule != via_system) continue;
            const std::string* actual = resolver_.find_in_folder(folder.path, key);
            if (actual == nullptr) continue;
            const std::string path = (fs::path(folder.path) / *actual).string();
            const ModuleFile& file = resolver_.load(path);
            const std::string& name = graph_.nodes[index].name;
            if (!file.problem.empty()) {
                skip(name, path, file.problem);
                continue;
            }
            if (file.machine != machine_) {
                skip(name, path,
                     "found " + machine_text(file.machine) + " " + *actual + " in " + folder.path +
                         ", skipped");
                continue;
            }
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

    void skip(const std::string& module, const std::string& path, const std::string& reason) {
        for (const auto& skipped : graph_.skipped)
            if (skipped.path == path) return;
        graph_.skipped.push_back({module, path, reason});
    }

    void check_function(std::size_t target, std::size_t import, const ImportedFunction& function,
                        std::size_t importer, bool delay, std::vector<WalkStep>& steps) {
        const std::string* name = &function.name;
        bool by_ordinal = function.ordinal.has_value();
        std::uint16_t ordinal = function.ordinal.value_or(0);
        std::string forwarded;
        for (int hop = 0; hop <= max_forwarder_hops; ++hop) {
            // A module that is missing is reported once, not with each function.
            const ModuleFile* file = graph_.nodes[target].file;
            if (file == nullptr) return;
            const ExportLookup found =
                by_ordinal ? file->find_export(ordinal) : file->find_export(*name);
            if (found.kind == ExportLookup::Kind::code) return;
            if (found.kind == ExportLookup::Kind::none) break;
            const auto dot = found.forwarder.find_last_of('.');
            if (dot == std::string::npos || dot == 0) break;
            const std::size_t forwarding = target;
            steps.push_back({WalkStep::Kind::forward, import,
                             lower_ascii(with_extension(graph_.nodes[forwarding].name)),
                             with_extension(found.forwarder.substr(0, dot)), nullptr});
            target = node_for(steps.back().to, forwarding, delay);
            add_edge(forwarding, target, delay, true);
            forwarded = found.forwarder.substr(dot + 1);
            name = &forwarded;
            by_ordinal = false;
            if (forwarded.size() > 1 && forwarded[0] == '#') {
                const std::string digits = forwarded.substr(1);
                if (digits.size() > 5 ||
                    digits.find_first_not_of("0123456789") != std::string::npos)
                    break;
                const unsigned long value = std::stoul(digits);
                if (value > 0xFFFF) break;
                by_ordinal = true;
                ordinal = static_cast<std::uint16_t>(value);
            }
        }
        steps.push_back({WalkStep::Kind::missing, import, {}, {}, &function});
        graph_.missing_functions.push_back({graph_.nodes[importer].file->imports[import].module,
                                            function.name, function.ordinal,
                                            graph_.nodes[importer].name, delay});
    }

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
};

std::unique_ptr<ModuleFile> ModuleFiles::read(const std::string& path) {
    return read_module_file(path);
}

bool ModuleFiles::exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(native_path(path), error);
}

std::vector<std::string> ModuleFiles::list_folder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(native_path(folder), error), end;
         !error && entry != end; entry.increment(error)) {
        std::error_code type_error;
        if (!entry->is_regular_file(type_error)) continue;
        // The whole path, so that an 8.3 alias can be found for a name the
        // code page cannot spell.
        const std::string path = library_path(entry->path());
        names.push_back(path.substr(path.find_last_of("\\/") + 1));
    }
    return names;
}

std::unique_ptr<ApiSets> ModuleFiles::read_api_sets(const std::string& path) {
    FileView view;
    return view.open(path) ? std::make_unique<ApiSets>(view.bytes()) : std::make_unique<ApiSets>();
}

DependencyResolver::DependencyResolver(ModuleSource& source, SearchSettings settings)
    : source_(source), settings_(std::move(settings)) {}

DependencyResolver::~DependencyResolver() = default;

const std::string& DependencyResolver::system_folder(std::uint16_t machine) {
    auto found = system_folders_.find(machine);
    if (found == system_folders_.end()) {
        const std::string folder =
            settings_.system.empty() ? default_system_folder(machine) : settings_.system;
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

const std::string* DependencyResolver::find_in_folder(const std::string& folder,
                                                      const std::string& lower_name) {
    auto listing = folders_.find(folder);
    if (listing == folders_.end()) {
        listing = folders_.emplace(folder, std::unordered_map<std::string, std::string>{}).first;
        // Two names that differ only in case (possible outside Windows): the
        // first listed is taken.
        for (auto& name : source_.list_folder(folder))
            listing->second.emplace(lower_ascii(name), std::move(name));
    }
    const auto found = listing->second.find(lower_name);
    return found == listing->second.end() ? nullptr : &found->second;
}

const ApiSets& DependencyResolver::api_sets(const std::string& system) {
    auto& slot = api_sets_[system];
    if (!slot) {
        const std::string* schema =
            system.empty() ? nullptr : find_in_folder(system, "apisetschema.dll");
        slot = schema ? source_.read_api_sets((fs::path(system) / *schema).string())
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
        if (const auto* actual = find_in_folder(given.parent_path().string(),
                                                lower_ascii(given.filename().string())))
            path = (given.parent_path() / *actual).string();
    }
    const ModuleFile& file = load(path);
    if (!file.problem.empty()) {
        graph.problem = file.problem;
        return graph;
    }
    GraphWalk walk(*this, graph, file);
    walk.run();
    return graph;
}

}  // namespace korvex::host
