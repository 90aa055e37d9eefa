// How `korvex deps` prints a program's dependencies: a tree for people, one
// path per line for scripts, the whole graph as JSON.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/console.h"
#include "deps/dependency_graph.h"

namespace korvex::host {

// The tree, each module once; a later mention says it was shown above.
// Missing modules and functions and skipped candidates follow the tree.
std::string dependency_tree_text(const DependencyGraph& graph);

// The resolved path of every module but the root, each once over all the
// graphs printed with the same `printed` set.
void print_dependency_list(const DependencyGraph& graph, std::set<std::string>& printed);

nlohmann::json dependency_json(const DependencyGraph& graph);

// "PATH is damaged: ...", "PATH is built for x86-64": why a file of a
// module's name was not taken.
std::string passed_over_text(const SkippedFile& skipped);

// Why a missing module is missing, when more can be said: a file of its name
// that was passed over (damaged, another machine), or that Windows ships it
// ("missing here; part of Windows 7 and later"); empty otherwise.
std::string missing_reason(const DependencyGraph& graph, const DependencyNode& node);

// Every module that imports `node`, as the summaries name them: "a.exe, b.dll".
std::string importers_text(const DependencyNode& node);

// "name" or "#12" for a missing function.
std::string function_text(const MissingFunction& function);

}  // namespace korvex::host
