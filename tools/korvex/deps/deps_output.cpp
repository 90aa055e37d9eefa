#include "deps/deps_output.h"

#include <algorithm>

#include "core/host_os.h"
#include "core/text.h"
#include "deps/windows_dlls.h"
#include "pe/image_diagnosis.h"

namespace korvex::host {

using nlohmann::json;

namespace {

// Names come from the files and paths from the folders: both are escaped
// before they reach a terminal.
std::string printable(const std::string& text) { return terminal_text(text); }

std::string module_suffix(const DependencyNode& node) {
    std::string text;
    if (node.api_set) text += node.host.empty() ? " -> (no host)" : " -> " + printable(node.host);
    if (node.file != nullptr) {
        text += "  " + printable(node.file->path);
        if (node.system) text += "  [system]";
        if (node.not_windows)
            text += node.file->wine_build
                        ? "  [system folder: Wine's own build; Windows does not ship it]"
                        : "  [system folder: Wine ships it; Windows does not]";
    } else {
        text += node.optional ? "  optional, not present" : "  NOT FOUND";
    }
    if (node.delay) text += "  [delay-load]";
    return text;
}

// Indentation stops growing at this depth and deeper lines carry their depth
// instead: a crafted chain of thousands of modules would otherwise print
// lines as long as the chain is deep, the square of its length in all.
constexpr std::size_t max_indented_depth = 32;

void append_indent(std::string& out, std::size_t depth) {
    out.append(std::min(depth, max_indented_depth) * 2, ' ');
    if (depth > max_indented_depth) out += "[" + std::to_string(depth) + "] ";
}

// Depth first with the way down kept in a vector, not on the call stack: a
// chain of modules may be as deep as the graph is large.
void append_subtrees(const DependencyGraph& graph, std::string& out) {
    struct Step {
        std::size_t node;
        std::size_t next_child;
    };
    std::vector<bool> shown(graph.nodes.size(), false);
    shown[0] = true;
    std::vector<Step> way{{0, 0}};
    while (!way.empty()) {
        Step& step = way.back();
        const auto& children = graph.nodes[step.node].children;
        if (step.next_child == children.size()) {
            way.pop_back();
            continue;
        }
        const DependencyNode::Edge& edge = children[step.next_child++];
        const DependencyNode& child = graph.nodes[edge.node];
        append_indent(out, way.size());
        out += printable(child.name);
        if (edge.forwarder) out += " (forwarded)";
        if (shown[edge.node]) {
            out += "  (already shown)\n";
            continue;
        }
        shown[edge.node] = true;
        out += module_suffix(child);
        out += '\n';
        way.push_back({edge.node, 0});
    }
}

json machine_json(const ModuleFile* file) {
    return file == nullptr ? json(nullptr) : json(machine_text(file->machine));
}

}  // namespace

std::string passed_over_text(const SkippedFile& skipped) {
    return skipped.path + (skipped.machine != 0 ? " is built for " + machine_text(skipped.machine)
                                                : " " + skipped.reason);
}

std::string missing_reason(const DependencyGraph& graph, const DependencyNode& node) {
    for (const auto& skipped : graph.skipped)
        if (skipped.module == node.name && !skipped.limit_passed)
            return "a file of that name was passed over: " + passed_over_text(skipped);
    if (node.api_set) return {};
    const std::string windows =
        part_of_windows(lower_ascii(node.name)) + part_of_windows(lower_ascii(node.name) + ".dll");
    return windows.empty() ? std::string() : "missing here; " + windows;
}

std::string importers_text(const DependencyNode& node) {
    std::string text;
    for (const auto& importer : node.imported_by) text += (text.empty() ? "" : ", ") + importer;
    return text;
}

std::string function_text(const MissingFunction& function) {
    if (!function.ordinal) return function.function;
    std::string text(1, '#');
    return text.append(std::to_string(*function.ordinal));
}

std::string dependency_tree_text(const DependencyGraph& graph) {
    if (!graph.problem.empty())
        return printable(graph.root) + " " + printable(graph.problem) + "\n";
    std::string out =
        printable(graph.root) + " (" + machine_text(graph.nodes[0].file->machine) + ")\n";
    append_subtrees(graph, out);
    if (!graph.no_system_folder.empty())
        out += "note: " + printable(graph.no_system_folder) +
               ": every DLL of Windows is missing below\n";
    for (const auto& node : graph.nodes) {
        if (!node.missing()) continue;
        const std::string reason = missing_reason(graph, node);
        out += std::string("missing") + (node.delay ? " delay-load module" : " module") + ": " +
               printable(node.name) + " (imported by " + printable(importers_text(node)) + ")" +
               (reason.empty() ? "" : ": " + printable(reason)) + "\n";
    }
    for (const auto& function : graph.missing_functions)
        out += std::string("missing") + (function.delay ? " delay-load" : "") +
               " entry point: " + printable(function_text(function)) + " in " +
               printable(function.module) + " (imported by " + printable(function.imported_by) +
               ")\n";
    for (const auto& skipped : graph.skipped)
        out += "skipped " + printable(skipped.path) + ": " + printable(skipped.reason) + "\n";
    return out;
}

void print_dependency_list(const DependencyGraph& graph, std::set<std::string>& printed) {
    for (std::size_t i = 1; i < graph.nodes.size(); ++i) {
        const ModuleFile* file = graph.nodes[i].file;
        if (file != nullptr && printed.insert(file->path).second)
            print("%s\n", printable(file->path).c_str());
    }
}

json dependency_json(const DependencyGraph& graph) {
    json root = {{"file", to_utf8(graph.root)}};
    if (!graph.problem.empty()) {
        root["error"] = to_utf8(graph.problem);
        return root;
    }
    root["path"] = to_utf8(graph.nodes[0].file->path);
    root["machine"] = machine_json(graph.nodes[0].file);
    root["no_system_folder"] =
        graph.no_system_folder.empty() ? json(nullptr) : json(to_utf8(graph.no_system_folder));
    json modules = json::array();
    json missing_modules = json::array();
    for (std::size_t i = 1; i < graph.nodes.size(); ++i) {
        const DependencyNode& node = graph.nodes[i];
        json imported_by = json::array();
        for (const auto& importer : node.imported_by) imported_by.push_back(to_utf8(importer));
        json module = {{"name", to_utf8(node.name)},
                       {"path", node.file ? json(to_utf8(node.file->path)) : json(nullptr)},
                       {"system", node.system},
                       {"not_windows", node.not_windows},
                       {"wine_build", node.file != nullptr && node.file->wine_build},
                       {"via", node.via.empty() ? json(nullptr) : json(to_utf8(node.via))},
                       {"machine", machine_json(node.file)},
                       {"delay", node.delay},
                       {"imported_by", imported_by}};
        if (node.api_set) {
            module["host"] = node.host.empty() ? json(nullptr) : json(to_utf8(node.host));
            module["optional"] = node.optional;
        }
        modules.push_back(module);
        if (node.missing())
            missing_modules.push_back({{"module", to_utf8(node.name)},
                                       {"imported_by", imported_by},
                                       {"delay", node.delay},
                                       {"reason", to_utf8(missing_reason(graph, node))}});
    }
    json missing_functions = json::array();
    for (const auto& function : graph.missing_functions)
        missing_functions.push_back(
            {{"module", to_utf8(function.module)},
             {"function",
              function.ordinal ? json(*function.ordinal) : json(to_utf8(function.function))},
             {"imported_by", to_utf8(function.imported_by)},
             {"delay", function.delay}});
    json skipped = json::array();
    for (const auto& file : graph.skipped)
        skipped.push_back({{"module", to_utf8(file.module)},
                           {"path", to_utf8(file.path)},
                           {"reason", to_utf8(file.reason)}});
    root["modules"] = modules;
    root["missing_modules"] = missing_modules;
    root["missing_functions"] = missing_functions;
    root["skipped"] = skipped;
    return root;
}

}  // namespace korvex::host
