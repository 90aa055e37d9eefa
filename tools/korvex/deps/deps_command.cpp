// korvex deps: which DLLs programs need, where each comes from, what is
// missing, and (with --copy-to) a folder that runs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/host_os.h"
#include "core/report_file.h"
#include "core/text.h"
#include "deps/dependency_graph.h"
#include "deps/deps_html.h"
#include "deps/deps_output.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

struct DepsOptions {
    std::vector<std::string> files;
    std::vector<std::string> search;
    std::string system;
    std::string copy_to;
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

bool same_contents(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    std::vector<char> left(1 << 16), right(1 << 16);
    while (first && second) {
        first.read(left.data(), static_cast<std::streamsize>(left.size()));
        second.read(right.data(), static_cast<std::streamsize>(right.size()));
        if (first.gcount() != second.gcount() ||
            !std::equal(left.begin(), left.begin() + first.gcount(), right.begin()))
            return false;
    }
    return first.eof() && second.eof();
}

// Copies one file into the bundle; false when it may not or could not. What
// stands in the folder is only ever replaced by a rename (with --force), so
// a link planted there is never written through and a hard link keeps its
// contents. A copy of a file that may be run may be run too.
bool copy_into(const std::string& source, const fs::path& folder, bool force) {
    const fs::path target = folder / fs::path(source).filename();
    std::error_code error;
    const auto standing = fs::symlink_status(target, error);
    if (fs::exists(standing)) {
        // Only an ordinary file of the same bytes counts as already there.
        if (fs::is_regular_file(standing) &&
            (fs::equivalent(source, target, error) || same_contents(source, target)))
            return true;
        if (!force) {
            report_error(target.string() + " exists and differs from " + source +
                         "; it was not replaced (--force replaces it).");
            return false;
        }
    }
    std::ifstream in(native_path(source), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string reason;
    const FileMode mode = is_executable_file(source) ? FileMode::executable : FileMode::plain;
    const MoveResult placed =
        in.bad() ? MoveResult::failed : place_file(target.string(), bytes, force, reason, mode);
    if (placed != MoveResult::moved) {
        report_error(source + " could not be copied to " + folder.string() + " (" +
                     (placed == MoveResult::target_exists ? "a file of that name appeared"
                      : in.bad()                          ? "it could not be read"
                                                          : reason) +
                     ").");
        return false;
    }
    std::fprintf(stderr, "copied %s to %s\n", terminal_text(source).c_str(),
                 terminal_text(target.string()).c_str());
    return true;
}

// A file name as Windows compares it, which the bundle is for: two names
// that differ only in case are one.
std::string folded_name(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    return name;
}

// One file of the bundle: where it comes from and the program that needs it.
struct BundleFile {
    std::string source;
    std::string program;
    bool conflict = false;
};

// The programs and every module they resolved outside the system folder,
// delay-loaded ones included: what a machine with only the system DLLs lacks.
// Each name is given one file first: a file needed twice is copied once,
// and two different files of one name (or of names that differ in case) are
// both refused, so that --force never replaces what this run copied.
bool copy_bundle(const std::vector<DependencyGraph>& graphs, const DepsOptions& options) {
    std::error_code error;
    const fs::path folder(options.copy_to);
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        report_error("the folder " + options.copy_to + " could not be created (" +
                     (error ? error.message() : "a file of that name is in the way") + ").");
        return false;
    }
    std::map<std::string, BundleFile> files;
    std::vector<std::string> order;
    bool complete = true;
    for (const auto& graph : graphs) {
        if (!graph.problem.empty()) continue;
        for (const auto& node : graph.nodes) {
            if (node.file == nullptr || node.system) continue;
            const std::string& source = node.file->path;
            const auto [planned, added] =
                files.try_emplace(folded_name(source), BundleFile{source, graph.root});
            if (added) {
                order.push_back(planned->first);
                continue;
            }
            BundleFile& first = planned->second;
            if (first.source == source ||
                fs::equivalent(native_path(first.source), native_path(source), error) ||
                same_contents(native_path(first.source), native_path(source)))
                continue;
            report_error(first.source + " (for " + first.program + ") and " + source + " (for " +
                         graph.root + ") differ but would both be " +
                         fs::path(source).filename().string() + " in " + options.copy_to +
                         "; neither was copied.");
            first.conflict = true;
            complete = false;
        }
    }
    for (const auto& name : order)
        if (const BundleFile& file = files.at(name); !file.conflict)
            complete = copy_into(file.source, folder, options.report.force) && complete;
    return complete;
}

// deps reads files with the image readers alone, as the loader reads them;
// the library's own answers are inspect's to show.
int run_deps(const DepsOptions& options) {
    if (const int target = check_report_target(options.report); target != exit_ok) return target;
    ModuleFiles files;
    DependencyResolver resolver(files, {options.search, options.system, path_folders()});
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
            for (const auto& node : graph.nodes)
                if (node.missing())
                    report_error(node.name + " (imported by " + importers_text(node) +
                                 ") was not found.");
            for (const auto& function : graph.missing_functions)
                report_error(function_text(function) + " (imported by " + function.imported_by +
                             ") is not in " + function.module + ".");
            for (const auto& skipped : graph.skipped)
                if (skipped.limit_passed) report_error(skipped.path + " " + skipped.reason + ".");
        }
    }

    if (!options.copy_to.empty() && !copy_bundle(graphs, options)) failed = true;
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
    command
        ->add_option("--copy-to", options->copy_to,
                     "Copy the programs and their non-system DLLs into this folder")
        ->type_name("FOLDER");
    command->add_flag("--force", options->report.force,
                      "Let -o replace its file, and --copy-to a different file of the same name");
    command->add_flag("--delay", options->delay,
                      "Count missing delay-load modules and functions as failures");
    auto* json = command->add_flag("--json", options->json, "Print the whole graph as JSON");
    auto* tree = command->add_flag("--tree", options->tree, "Print a tree (the default)");
    auto* list = command->add_flag("--list", options->list, "Print one resolved path per line");
    json->excludes(tree)->excludes(list);
    tree->excludes(list);
    add_report_options(*command, options->report)
        .html->excludes(json)
        ->excludes(tree)
        ->excludes(list);
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
