// korvex: command-line host of the korvex32 library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "commands.h"
#include "deps_command.h"
#include "library.h"

using namespace korvex::host;

int main(int argc, char** argv) {
    CLI::App app{"korvex: inspect executables and snapshot running processes with korvex32"};
    app.require_subcommand(1);

    InspectOptions inspect;
    auto* inspect_command = app.add_subcommand("inspect", "Tell the kind of each file and list what a PE image imports and exports");
    inspect_command->add_option("FILE", inspect.files, "Executable files")->required();
    inspect_command->add_flag("--json", inspect.json, "Print JSON");

    SnapshotOptions snapshot;
    auto* snapshot_command = app.add_subcommand("snapshot", "Take a snapshot of the running processes and their modules");
    snapshot_command->add_option("--dir", snapshot.directory, "Work directory (default: a korvex folder in the temporary directory)");
    snapshot_command->add_option("--name", snapshot.name, "Snapshot name (at most 50 characters)")->capture_default_str();
    snapshot_command->add_option("--pid", snapshot.process, "Show only this process and its modules");
    snapshot_command->add_option("--rows", snapshot.rows, "Records per read call")->check(CLI::Range(1, 1000000))->capture_default_str();
    bool no_versions = false;
    snapshot_command->add_flag("--no-versions", no_versions, "Do not read module file versions");
    snapshot_command->add_flag("--json", snapshot.json, "Print JSON");

    ShowOptions show;
    auto* show_command = app.add_subcommand("show", "Print the processes and modules of a work file");
    show_command->add_option("WORKFILE", show.work_file, "Work file")->required();
    show_command->add_option("--pid", show.process, "Show only this process and its modules");
    show_command->add_option("--rows", show.rows, "Records per read call")->check(CLI::Range(1, 1000000))->capture_default_str();
    show_command->add_flag("--json", show.json, "Print JSON");

    std::uint32_t victim = 0;
    auto* kill_command = app.add_subcommand("kill", "End a process by its id");
    kill_command->add_option("PID", victim, "Process id")->required();

    bool version_json = false;
    auto* osversion_command = app.add_subcommand("osversion", "Print the operating system's version");
    osversion_command->add_flag("--json", version_json, "Print JSON");

    DepsOptions deps;
    auto* deps_command = add_deps_command(app, deps);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return exit_ok;
    } catch (const CLI::ParseError& error) {
        // --help after a subcommand is reported through the subcommand's parse.
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            std::fputs(app.help().c_str(), stdout);
            return exit_ok;
        }
        report_error(std::string(error.what()) + " (see korvex --help)");
        return exit_usage;
    }
    snapshot.versions = !no_versions;

    Library library;
    std::string error;
    if (!load_library(library, error)) {
        report_error(error);
        return exit_library_failure;
    }
    if (*inspect_command) return run_inspect(library, inspect);
    if (*deps_command) return run_deps(library, deps);
    if (*snapshot_command) return run_snapshot(library, snapshot);
    if (*show_command) return run_show(library, show);
    if (*kill_command) return run_kill(library, victim);
    return run_osversion(library, version_json);
}
