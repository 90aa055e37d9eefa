// korvex deps: which DLLs programs need, where each comes from, what is
// missing, and (with --copy-to) a folder that runs.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "library.h"

namespace korvex::host {

struct DepsOptions {
    std::vector<std::string> files;
    std::vector<std::string> search;
    std::string system;
    std::string copy_to;
    bool json = false;
    bool tree = false;
    bool list = false;
    bool delay = false;
    bool force = false;
};

// Adds the subcommand and its options to `app`.
CLI::App* add_deps_command(CLI::App& app, DepsOptions& options);

// 0 when every static import resolves, 1 when a module or entry point is
// missing (or a root cannot be read, or the bundle cannot be made).
int run_deps(const Library& library, const DepsOptions& options);

}  // namespace korvex::host
