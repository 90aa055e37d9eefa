#include "deps/import_chains.h"

#include <deque>
#include <filesystem>

#include "core/text.h"

namespace korvex::host {

namespace {

std::string loader_name(const std::string& name) {
    std::string lower = lower_ascii(name);
    const auto dot = lower.find_last_of('.');
    if (dot == std::string::npos || lower.find_first_of("\\/", dot) != std::string::npos)
        lower += ".dll";
    return lower;
}

// One partial chain: the edge that ends it and the chain it extends.
struct Step {
    DependencyNode::Edge edge;
    std::size_t before;  // index of the chain it extends; none for the root
    std::size_t length;
};
constexpr std::size_t none = static_cast<std::size_t>(-1);

// The nodes from which some node of `targets` can be reached: only chains
// through them can end at the module, so no other node is ever tried.
std::vector<bool> reaching(const DependencyGraph& graph, const std::vector<bool>& targets) {
    std::vector<std::vector<std::size_t>> importers(graph.nodes.size());
    for (std::size_t i = 0; i < graph.nodes.size(); ++i)
        for (const auto& edge : graph.nodes[i].children) importers[edge.node].push_back(i);
    std::vector<bool> reaches = targets;
    std::deque<std::size_t> queue;
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (targets[i]) queue.push_back(i);
    while (!queue.empty()) {
        const std::size_t node = queue.front();
        queue.pop_front();
        for (const std::size_t importer : importers[node])
            if (!reaches[importer]) {
                reaches[importer] = true;
                queue.push_back(importer);
            }
    }
    return reaches;
}

}  // namespace

bool names_module(const DependencyNode& node, const std::string& module) {
    const std::string wanted = loader_name(module);
    if (loader_name(node.name) == wanted) return true;
    return node.file != nullptr &&
           loader_name(std::filesystem::path(node.file->path).filename().string()) == wanted;
}

ImportChains import_chains(const DependencyGraph& graph, const std::string& module) {
    ImportChains found;
    if (graph.nodes.empty()) return found;
    std::vector<bool> targets(graph.nodes.size(), false);
    for (std::size_t i = 1; i < graph.nodes.size(); ++i)
        if (names_module(graph.nodes[i], module)) targets[i] = found.in_graph = true;
    if (!found.in_graph) return found;
    const std::vector<bool> reaches = reaching(graph, targets);

    // Breadth first over simple chains, so that shorter ones come first.
    std::vector<Step> steps{{{0, false, false}, none, 0}};
    std::size_t next = 0;
    const auto on_chain = [&](std::size_t step, std::size_t node) {
        for (; step != none; step = steps[step].before)
            if (steps[step].edge.node == node) return true;
        return false;
    };
    while (next < steps.size()) {
        const std::size_t current = next++;
        const std::size_t node = steps[current].edge.node;
        if (targets[node]) {
            std::vector<DependencyNode::Edge> chain(steps[current].length);
            for (std::size_t step = current; steps[step].before != none; step = steps[step].before)
                chain[steps[step].length - 1] = steps[step].edge;
            found.chains.push_back(std::move(chain));
            if (found.chains.size() == max_import_chains) {
                found.more = next < steps.size();
                return found;
            }
            continue;
        }
        for (const auto& edge : graph.nodes[node].children) {
            if (!reaches[edge.node] || on_chain(current, edge.node)) continue;
            if (steps.size() == max_chain_steps) {
                found.more = true;
                break;
            }
            steps.push_back({edge, current, steps[current].length + 1});
        }
    }
    return found;
}

std::string import_chains_text(const DependencyGraph& graph, const std::string& module,
                               const ImportChains& found, bool all) {
    const std::string root = terminal_text(graph.root);
    const std::string wanted = terminal_text(module);
    if (!graph.problem.empty()) return root + " " + terminal_text(graph.problem) + "\n";
    if (!found.in_graph)
        return root + " does not need " + wanted +
               (all ? "\n" : " (what Windows' own DLLs import is walked with --all)\n");
    // The module as the graph names it, not as asked.
    const std::string named = found.chains.empty()
                                  ? wanted
                                  : terminal_text(graph.nodes[found.chains[0].back().node].name);
    std::string out = root + " needs " + named + " through:\n";
    for (const auto& chain : found.chains) {
        out += "  " + terminal_text(graph.nodes[0].name);
        for (const auto& edge : chain) {
            if (edge.delay && edge.forwarder)
                out += " -delay,forwarded-> ";
            else if (edge.delay)
                out += " -delay-> ";
            else if (edge.forwarder)
                out += " -forwarded-> ";
            else
                out += " -> ";
            out += terminal_text(graph.nodes[edge.node].name);
        }
        out += '\n';
    }
    if (found.more)
        out += "  ... (the " + std::to_string(found.chains.size()) +
               " shortest chains found; there may be more)\n";
    return out;
}

}  // namespace korvex::host
