// korvex deps --why: the import chains that lead from a program to one
// module of its graph, shortest first, each edge marked as a static import,
// a delay-load import or a forwarded export.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "deps/dependency_graph.h"

namespace korvex::host {

// The chains kept for one program, and the partial chains tried to find
// them: a web of modules importing one another has more chains than anyone
// reads, and a crafted one more than memory holds.
inline constexpr std::size_t max_import_chains = 16;
inline constexpr std::size_t max_chain_steps = 200'000;

struct ImportChains {
    // Each chain lists the edges from the root (graph.nodes[0]) to the
    // module, in order; no module appears twice in one chain.
    std::vector<std::vector<DependencyNode::Edge>> chains;
    bool in_graph = false;  // a module of that name is in the graph
    bool more = false;      // a bound stopped the search: further chains may exist
};

// Whether `node` is the module `module` names: its name as imported or its
// file's name, letter case and a missing ".dll" aside.
bool names_module(const DependencyNode& node, const std::string& module);

// The simple chains from the root to every node that names `module`, in
// order of length (ties in the order the graph's edges were found), at most
// max_import_chains of them and max_chain_steps partial chains tried.
ImportChains import_chains(const DependencyGraph& graph, const std::string& module);

// "app.exe -> a.dll -delay-> zlib1.dll" lines under a heading naming the
// program and the module, or a line saying the program does not reach it.
std::string import_chains_text(const DependencyGraph& graph, const std::string& module,
                               const ImportChains& found, bool all);

}  // namespace korvex::host
