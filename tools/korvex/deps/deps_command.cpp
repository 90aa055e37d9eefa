// korvex deps: which DLLs programs need, where each comes from, what is
// missing, and (with --copy-to) a folder that runs.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/files.h"
#include "core/host_os.h"
#include "core/text.h"
#include "deps/bundle.h"
#include "deps/dependency_graph.h"
#include "deps/deps_html.h"
#include "deps/deps_output.h"
#include "deps/import_chains.h"
#include "report/report_output.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

struct DepsOptions {
    std::vector<std::string> files;
    std::vector<std::string> search;
    std::string system;
    std::string copy_to;
    std::string why;
    bool all = false;
    bool json = false;
    bool tree = false;
    bool list = false;
    bool delay = false;
    ReportOutput report;  // its force also lets --copy-to replace files
};

std::vector<std::string> path_folders() {
    const char* path = std::getenv("PATH");
    const char separator = path_list_separator;
    std::vector<std::string> folders;
    std::string rest = path ? path : "";
    std::size_t start = 0;
    while (start <= rest.size()) {
        const auto end = std::min(rest.find(separator, start), rest.size());
        if (end > start) folders.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

// deps reads files with the image readers alone, as the loader reads them;
// the library's own answers are inspect's to show.
int run_deps(const DepsOptions& options) {
    if (const int target = check_report_target(options.report); target != exit_ok) return target;
    ModuleFiles files;
    DependencyResolver resolver(files,
                                {options.search, options.system, path_folders(), options.all});
    std::vector<DependencyGraph> graphs;
    bool failed = false;
    for (const auto& file : options.files) {
        graphs.push_back(resolver.resolve(file));
        const std::string& problem = graphs.back().problem;
        if (problem == "is a folder")
            report_error(file + " is a folder: korvex deps takes programs and DLLs (" + file +
                         path_separator + "*.exe names the programs in it).");
        else if (!problem.empty())
            report_error(file + " " + problem + ".");
        failed = graphs.back().failed(options.delay) || failed;
    }

    if (!options.why.empty()) {
        // Like grep: success when every program needs the module.
        bool everywhere = true;
        for (const auto& graph : graphs) {
            const ImportChains found = import_chains(graph, options.why);
            print_text(import_chains_text(graph, options.why, found, options.all));
            everywhere = everywhere && found.in_graph;
        }
        return everywhere ? exit_ok : exit_failure;
    }
    if (options.json || options.report.html) {
        nlohmann::json roots = nlohmann::json::array();
        for (const auto& graph : graphs) roots.push_back(dependency_json(graph));
        const nlohmann::json document = {{"roots", roots}};
        if (!options.report.html)
            print("%s\n", document.dump(2).c_str());
        else if (const int written = write_report(options.report, deps_html(document));
                 written != exit_ok)
            return written;
    } else if (options.list) {
        std::set<std::string> printed;
        for (const auto& graph : graphs) print_dependency_list(graph, printed);
    } else {
        for (const auto& graph : graphs) print_text(dependency_tree_text(graph));
    }
    // The list holds paths only: what is missing goes to stderr.
    if (options.list) {
        std::set<std::string> said;
        for (const auto& graph : graphs)
            if (!graph.no_system_folder.empty() && said.insert(graph.no_system_folder).second)
                report_error(graph.no_system_folder + ": every DLL of Windows is missing.");
        for (const auto& graph : graphs) {
            for (const auto& node : graph.nodes) {
                if (!node.missing()) continue;
                const std::string reason = missing_reason(graph, node);
                report_error(node.name + " (imported by " + importers_text(node) +
                             ") was not found" + (reason.empty() ? "" : ": " + reason) + ".");
            }
            for (const auto& function : graph.missing_functions)
                report_error(function_text(function) + " (imported by " + function.imported_by +
                             ") is not in " + function.module + ".");
            // A file passed over where another was taken: said here, as the
            // list names only the one taken. One passed over for a missing
            // module was said with it above.
            std::set<std::string> missing;
            for (const auto& node : graph.nodes)
                if (node.missing()) missing.insert(node.name);
            for (const auto& skipped : graph.skipped)
                if (skipped.limit_passed)
                    report_error(skipped.path + " " + skipped.reason + ".");
                else if (!missing.contains(skipped.module))
                    report_error(skipped.module + ": not taken from " + passed_over_text(skipped) +
                                 ".");
        }
    }

    if (!options.copy_to.empty() && !copy_bundle(graphs, options.copy_to, options.report.force))
        failed = true;
    return failed ? exit_failure : exit_ok;
}

}  // namespace

void add_deps_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<DepsOptions>();
    auto* command = app.add_subcommand("deps", "Find the DLLs programs need, and what is missing");
    command->add_option("FILE", options->files, "Programs or DLLs")->required()->type_name("FILE");
    command
        ->add_option("--search", options->search,
                     "Folder searched after the program's own (repeatable, in order)")
        ->allow_extra_args(false)
        ->type_name("FOLDER");
    command
        ->add_option("--system", options->system,
                     "System folder (default: Windows', or Wine's DLL folder)")
        ->type_name("FOLDER");
    auto* copy_to = command
                        ->add_option("--copy-to", options->copy_to,
                                     "Copy the programs and their non-system DLLs into this folder")
                        ->type_name("FOLDER");
    command->add_flag("--force", options->report.force,
                      "Let -o replace its file, and --copy-to a different file of the same name");
    command->add_flag("--all", options->all,
                      "Walk the imports of Windows' own DLLs too (by default Windows' business)");
    auto* why = command
                    ->add_option("--why", options->why,
                                 "Print the import chains from each program to MODULE")
                    ->type_name("MODULE");
    command->add_flag("--delay", options->delay,
                      "Count missing delay-load modules and functions as failures");
    auto* json = command->add_flag("--json", options->json, "Print the whole graph as JSON");
    auto* tree = command->add_flag("--tree", options->tree, "Print a tree (the default)");
    auto* list = command->add_flag("--list", options->list, "Print one resolved path per line");
    json->excludes(tree)->excludes(list);
    why->excludes(json)->excludes(tree)->excludes(list)->excludes(copy_to);
    tree->excludes(list);
    add_report_options(*command, options->report)
        .html->excludes(json)
        ->excludes(tree)
        ->excludes(list)
        ->excludes(why);
    commands.push_back({command, [options](const Library&) {
                            std::vector<std::string> files;
                            for (const auto& file : options->files)
                                for (auto& found : expand_file_argument(file))
                                    files.push_back(std::move(found));
                            options->files = std::move(files);
                            return run_deps(*options);
                        }});
}

}  // namespace korvex::host
