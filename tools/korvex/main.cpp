// korvex: command-line host of the korvex32 library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "deps_command.h"
#include "library.h"

#ifdef _WIN32
#include "text.h"

// The MinGW runtime expands wildcards in the arguments, as a Unix shell would.
extern "C" {
int _dowildcard = -1;
}
#endif

using namespace korvex::host;

namespace {

// The subcommand the parser was in when it stopped, for pointing to its help.
std::string help_hint(const CLI::App& app) {
    const auto chosen = app.get_subcommands();
    return chosen.empty() ? "korvex --help" : "korvex " + chosen.back()->get_name() + " --help";
}

// The options that choose and shape a process listing, shared by snapshot and show.
void add_listing_options(CLI::App& command, ListingOptions& listing, bool& no_header) {
    command.add_option("--pid", listing.filter.process, "Only this process and its modules");
    command.add_option("--name", listing.filter.name,
                       "Only processes whose executable name matches (* and ? allowed)");
    command.add_option("--module", listing.filter.module,
                       "Only processes that have this module loaded (* and ? allowed)");
    command.add_option("--rows", listing.rows, "Records per read call")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    command.add_flag("--no-header", no_header, "Leave out the tables' headers and counts");
    command.add_option("--csv", listing.csv, "Print one table as CSV: processes or modules")
        ->check(CLI::IsMember({"processes", "modules"}));
    command.add_flag("--json", listing.json, "Print JSON")->excludes("--csv");
}

int run(int argc, char** argv) {
    CLI::App app{"korvex: inspect executables and snapshot running processes with korvex32",
                 "korvex"};
    // Windows-style "/option" parsing would take every absolute path under
    // Wine ("/tmp/x.dll") for an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    app.footer(
        "Exit status: 0 all well, 1 some input failed or the output could not be written, "
        "2 the command line was wrong.\nkorvex help COMMAND shows the options of one command.");
    bool show_version = false;
    app.add_flag("--version", show_version, "Print the versions of korvex and of the library");

    std::string help_topic;
    auto* help_command =
        app.add_subcommand("help", "Show the commands, or the options of one command");
    help_command->add_option("COMMAND", help_topic, "Command to explain");

    InspectOptions inspect;
    auto* inspect_command = app.add_subcommand(
        "inspect", "Tell the kind of each file and list what a PE image imports and exports");
    inspect_command->add_option("FILE", inspect.files,
                                "Executable files (\"-\": read names from stdin, one a line)");
    inspect_command->add_option("--files-from", inspect.files_from,
                                "Read names from this file, one a line (\"-\": stdin)");
    inspect_command->add_flag("-r,--recursive", inspect.recursive,
                              "Inspect the files in folders, and in their folders");
    bool only_imports = false, only_exports = false;
    inspect_command->add_flag("--imports", only_imports,
                              "List the imports (without --exports: only the imports)");
    inspect_command->add_flag("--exports", only_exports,
                              "List the exports (without --imports: only the exports)");
    inspect_command->add_flag("--json", inspect.json, "Print one JSON document");
    inspect_command
        ->add_flag("--json-lines", inspect.json_lines,
                   "Print one JSON object a line, for each file as it is done")
        ->excludes("--json");

    SnapshotOptions snapshot;
    auto* snapshot_command = app.add_subcommand(
        "snapshot",
        "Take a snapshot of the running processes and their modules, saved to a work file");
    snapshot_command->add_option("-o,--output", snapshot.output,
                                 "Work file to write (refused if it exists, unless --force)");
    snapshot_command->add_flag("--force", snapshot.force, "Replace the --output file if it exists");
    snapshot_command->add_option("--dir", snapshot.directory,
                                 "Folder for a new LABEL-DATE-TIME.wrk file when there is no "
                                 "--output (default: the current folder)");
    snapshot_command
        ->add_option("--label", snapshot.name,
                     "Snapshot name given to the library (at most 50 characters), and the start of "
                     "a new file's name")
        ->capture_default_str();
    bool no_versions = false, no_snapshot_header = false;
    snapshot_command->add_flag("--no-versions", no_versions, "Do not read module file versions");
    add_listing_options(*snapshot_command, snapshot.listing, no_snapshot_header);

    ShowOptions show;
    auto* show_command =
        app.add_subcommand("show", "Print the processes and modules of a work file");
    show_command->add_option("WORKFILE", show.work_file, "Work file")->required();
    bool no_show_header = false;
    add_listing_options(*show_command, show.listing, no_show_header);

    DiffOptions diff;
    auto* diff_command =
        app.add_subcommand("diff",
                           "What changed between two work files: processes started and ended, "
                           "modules loaded, unloaded and updated");
    diff_command->add_option("BEFORE", diff.before, "The earlier work file")->required();
    diff_command->add_option("AFTER", diff.after, "The later work file")->required();
    diff_command->add_option("--rows", diff.rows, "Records per read call")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    diff_command->add_flag("--json", diff.json, "Print JSON");

    KillOptions kill;
    auto* kill_command = app.add_subcommand(
        "kill",
        "End processes by id or by executable name, at once and without asking them "
        "(TerminateProcess on Windows, SIGKILL natively)");
    kill_command
        ->add_option("TARGET", kill.targets, "Process id, or executable name (* and ? allowed)")
        ->required();

    bool version_json = false;
    auto* osversion_command =
        app.add_subcommand("osversion", "Print the operating system's version");
    osversion_command->add_flag("--json", version_json, "Print JSON");

    DepsOptions deps;
    auto* deps_command = add_deps_command(app, deps);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const auto chosen = app.get_subcommands();
        print_text(chosen.empty() ? app.help() : chosen.back()->help("korvex"));
        return finish_output(exit_ok);
    } catch (const CLI::ParseError& error) {
        report_error(std::string(error.what()) + " (see " + help_hint(app) + ")");
        return exit_usage;
    }
    snapshot.versions = !no_versions;
    snapshot.listing.header = !no_snapshot_header;
    show.listing.header = !no_show_header;
    if (only_imports || only_exports)
        inspect.imports = only_imports, inspect.exports = only_exports;

    if (*help_command) {
        const CLI::App* topic = nullptr;
        try {
            if (!help_topic.empty()) topic = app.get_subcommand(help_topic);
        } catch (const CLI::OptionNotFound&) {
        }
        if (!help_topic.empty() && (topic == nullptr || topic == help_command)) {
            report_error("there is no command " + help_topic + " (see korvex --help)");
            return exit_usage;
        }
        print_text(topic == nullptr ? app.help() : topic->help("korvex"));
        return finish_output(exit_ok);
    }
    if (!show_version && app.get_subcommands().empty()) {
        report_error("a command is required (see korvex --help)");
        return exit_usage;
    }

    Library library;
    std::string error;
    if (!load_library(library, error)) {
        report_error(error);
        return exit_failure;
    }
    if (show_version) return finish_output(run_version(library));
    if (*inspect_command) return run_inspect(library, inspect);
    if (*deps_command) return run_deps(library, deps);
    if (*snapshot_command) return run_snapshot(library, snapshot);
    if (*show_command) return run_show(library, show);
    if (*diff_command) return run_diff(library, diff);
    if (*kill_command) return run_kill(library, kill);
    return run_osversion(library, version_json);
}

}  // namespace

#ifdef _WIN32
// The arguments arrive as UTF-16 and are given to the library in the ANSI
// code page, by their 8.3 names where that code page cannot spell them.
int wmain(int argc, wchar_t** wide_argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(ansi_argument(wide_argv[i]));
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    prepare_standard_streams();
    return finish_output(run(argc, argv.data()));
}
#else
int main(int argc, char** argv) {
    prepare_standard_streams();
    return finish_output(run(argc, argv));
}
#endif
