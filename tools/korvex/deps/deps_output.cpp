#include "deps/deps_output.h"

#include "core/diagnosis.h"
#include "core/host_os.h"
#include "core/text.h"

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
        if (node.not_windows) text += "  [system folder: Wine ships it; Windows does not]";
    } else {
        text += node.optional ? "  optional, not present" : "  NOT FOUND";
    }
    if (node.delay) text += "  [delay-load]";
    return text;
}

void print_subtree(const DependencyGraph& graph, std::size_t index, int depth,
                   std::vector<bool>& shown) {
    for (const auto& edge : graph.nodes[index].children) {
        const DependencyNode& child = graph.nodes[edge.node];
        const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
        const char* how = edge.forwarder ? " (forwarded)" : "";
        if (shown[edge.node]) {
            print("%s%s%s  (already shown)\n", indent.c_str(), printable(child.name).c_str(), how);
            continue;
        }
        shown[edge.node] = true;
        print("%s%s%s%s\n", indent.c_str(), printable(child.name).c_str(), how,
              module_suffix(child).c_str());
        print_subtree(graph, edge.node, depth + 1, shown);
    }
}

json machine_json(const ModuleFile* file) {
    return file == nullptr ? json(nullptr) : json(machine_text(file->machine));
}

}  // namespace

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

void print_dependency_tree(const DependencyGraph& graph) {
    if (!graph.problem.empty()) {
        print("%s %s\n", printable(graph.root).c_str(), printable(graph.problem).c_str());
        return;
    }
    const DependencyNode& root = graph.nodes[0];
    print("%s (%s)\n", printable(graph.root).c_str(), machine_text(root.file->machine).c_str());
    std::vector<bool> shown(graph.nodes.size(), false);
    shown[0] = true;
    print_subtree(graph, 0, 1, shown);
    if (!graph.no_system_folder.empty())
        print("note: %s: every DLL of Windows is missing below\n",
              printable(graph.no_system_folder).c_str());
    for (const auto& node : graph.nodes)
        if (node.missing())
            print("missing%s: %s (imported by %s)\n", node.delay ? " delay-load module" : " module",
                  printable(node.name).c_str(), printable(importers_text(node)).c_str());
    for (const auto& function : graph.missing_functions)
        print("missing%s entry point: %s in %s (imported by %s)\n",
              function.delay ? " delay-load" : "", printable(function_text(function)).c_str(),
              printable(function.module).c_str(), printable(function.imported_by).c_str());
    for (const auto& skipped : graph.skipped)
        print("skipped %s: %s\n", printable(skipped.path).c_str(),
              printable(skipped.reason).c_str());
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
                                       {"delay", node.delay}});
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
