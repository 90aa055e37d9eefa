// korvex snapshot and korvex show: a snapshot taken and saved, or a work
// file read, and its processes and modules listed.
#include <CLI/CLI.hpp>

#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "core/command.h"
#include "core/console.h"
#include "core/files.h"
#include "core/host_os.h"
#include "core/library.h"
#include "core/text.h"
#include "korvex32.h"
#include "report/report_output.h"
#include "snapshot/snapshot_html.h"
#include "snapshot/snapshot_listing.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

// How the processes and modules of a snapshot are listed.
struct ListingOptions {
    ProcessFilter filter;
    std::int32_t rows = 50;  // records per read call
    bool no_header = false;
    std::string csv;  // "processes" or "modules": that table alone, as CSV
    bool json = false;
};

struct SnapshotOptions {
    std::string output;     // the work file to write; empty: a new file in `directory`
    std::string directory;  // empty: the current folder
    std::string name = "snapshot";
    bool force = false;  // replace `output` if it exists
    bool no_versions = false;
    ListingOptions listing;
};

struct ShowOptions {
    std::string work_file;
    ListingOptions listing;
    ReportOutput report;
};

void print_pages(SnapshotPages& pages, const ListingOptions& listing,
                 const std::string& work_file) {
    apply_filter(pages, listing.filter);
    const LongNames names(pages);
    const bool header = !listing.no_header;
    if (listing.json) {
        auto document = snapshot_json(pages, names);
        if (!work_file.empty()) document["work_file"] = to_utf8(work_file);
        print_json(document);
        return;
    }
    if (!listing.csv.empty()) {
        const TableFormat csv{header, true};
        if (listing.csv == "processes")
            print_processes(pages, names, csv);
        else
            print_modules(pages, names, csv);
        return;
    }
    const TableFormat aligned{header, false};
    if (header) print("%s\n", count_of(pages.processes.size(), "process", "processes").c_str());
    print_processes(pages, names, aligned);
    if (header)
        print("\n%s\n", count_of(pages.modules.size(), "module", "modules").c_str());
    else
        print("\n");
    print_modules(pages, names, aligned);
    if (!work_file.empty()) print("\nsnapshot saved to %s\n", terminal_text(work_file).c_str());
}

// "NAME-YYYYMMDD-HHMMSS.wrk" in `folder`, with "-2", "-3", ... when taken.
std::vector<std::string> new_file_names(const std::string& folder, const std::string& name) {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    const std::string stem =
        folder + (folder.back() == path_separator ? "" : std::string(1, path_separator)) + name +
        "-" + stamp;
    std::vector<std::string> names;
    for (int copy = 1; copy < 1000; ++copy)
        names.push_back(stem + (copy > 1 ? "-" + std::to_string(copy) : std::string()) + ".wrk");
    return names;
}

// A 32-bit korvex on 64-bit Windows gets no module list of a 64-bit process;
// such processes are said to be out of its reach rather than left to look
// as if they had loaded nothing.
void note_modules_out_of_reach(const SnapshotPages& pages) {
    std::set<std::uint32_t> with_modules;
    for (const ModuleRecord& module : pages.modules) with_modules.insert(module.dwProcessID);
    std::size_t out_of_reach = 0;
    for (const ProcessRecord& process : pages.processes)
        if (with_modules.count(process.th32ProcessID) == 0 &&
            modules_out_of_reach(process.th32ProcessID))
            ++out_of_reach;
    if (out_of_reach == 0) return;
    report_error("no modules listed for " + std::to_string(out_of_reach) + " of " +
                 std::to_string(pages.processes.size()) +
                 " processes: they are 64-bit programs, whose modules this 32-bit korvex "
                 "cannot list (the 64-bit korvex.exe of build/win64 lists them).");
}

int run_snapshot(const Library& library, const SnapshotOptions& options) {
    if (options.name.empty() || options.name.size() > KORVEX_MAX_SNAPSHOT_NAME ||
        options.name.find_first_of("/\\:*?\"<>|") != std::string::npos) {
        return report_usage_error("a label has 1 to 50 characters, none of / \\ : * ? \" < > or |",
                                  "snapshot");
    }
    std::error_code ignored;
    if (!options.output.empty() && fs::is_directory(native_path(options.output), ignored)) {
        return report_usage_error(terminal_text(options.output) +
                                      " is a folder: -o names the work file to write (--dir "
                                      "chooses the folder for a new one)",
                                  "snapshot");
    }
    const std::string folder = !options.output.empty()     ? folder_of(options.output)
                               : options.directory.empty() ? std::string(".")
                                                           : options.directory;
    if (const auto problem = folder_problem(folder); !problem.empty()) {
        report_error("the folder " + folder + " " + problem + ".");
        return exit_failure;
    }
    if (!options.output.empty() && !options.force &&
        fs::exists(fs::symlink_status(native_path(options.output), ignored))) {
        report_error(options.output +
                     " already exists: use --force to replace it, or choose another file.");
        return exit_failure;
    }
    // The library writes the work file in a private folder of this run in
    // the temporary folder, where no other user can swap a link in; the
    // finished file is then written beside its destination under a new
    // name and renamed into place, as every file korvex writes.
    const PrivateFolder scratch;
    if (!scratch.created()) {
        report_error("no work file can be taken (" + scratch.error() + ").");
        return exit_failure;
    }
    SnapshotPages pages;
    std::string work_file, error;
    if (!take_and_read(library, scratch.path(), options.name, !options.no_versions,
                       options.listing.rows, pages, work_file, error)) {
        report_error(error + ".");
        return exit_failure;
    }
    // Copied a block at a time from the library's file, in this run's own
    // folder, never through a link.
    InputFile in;
    std::string read_error;
    const bool opened = in.open(work_file, false, read_error);
    std::string target = options.output;
    const MoveResult moved =
        !opened ? MoveResult::failed
        : options.output.empty()
            ? place_new_file(new_file_names(folder, options.name), file_source(in), target, error)
            : place_file(target, file_source(in), options.force, error);
    if (moved != MoveResult::moved) {
        report_error(
            moved == MoveResult::target_exists
                ? target + " already exists: use --force to replace it, or choose another file."
                : "the work file could not be written to " + target + " (" +
                      (!opened ? "it could not be read back: it " + read_error : error) + ").");
        return exit_failure;
    }
    print_pages(pages, options.listing, target);
    note_modules_out_of_reach(pages);
    return exit_ok;
}

int run_show(const Library& library, const ShowOptions& options) {
    if (const int target = check_report_target(options.report); target != exit_ok) return target;
    SnapshotPages pages;
    std::string error;
    if (!load_work_file(library, options.work_file, options.listing.rows, pages, error)) {
        report_error(error);
        return exit_failure;
    }
    if (options.report.html) {
        apply_filter(pages, options.listing.filter);
        return write_report(options.report, show_html(snapshot_json(pages, LongNames(pages))));
    }
    print_pages(pages, options.listing, {});
    return exit_ok;
}

// The options that choose and shape a process listing, shared by snapshot and show.
void add_listing_options(CLI::App& command, ListingOptions& listing) {
    command.add_option("--pid", listing.filter.process, "Only this process and its modules")
        ->type_name("PID");
    command
        .add_option("--name", listing.filter.name,
                    "Only processes whose executable name matches (* and ? allowed)")
        ->type_name("PATTERN");
    command
        .add_option("--module", listing.filter.module,
                    "Only processes that have this module loaded (* and ? allowed)")
        ->type_name("PATTERN");
    command.add_option("--rows", listing.rows, "Records per read call, 1 to 1000000")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str()
        ->type_name("N");
    command.add_flag("--no-header", listing.no_header, "Leave out the tables' headers and counts");
    auto* csv =
        command.add_option("--csv", listing.csv, "Print one table as CSV: processes or modules")
            ->check(CLI::IsMember({"processes", "modules"}))
            ->type_name("TABLE");
    command.add_flag("--json", listing.json, "Print JSON")->excludes(csv);
}

}  // namespace

void add_snapshot_commands(CLI::App& app, Commands& commands) {
    auto snapshot = std::make_shared<SnapshotOptions>();
    auto* snapshot_command = app.add_subcommand(
        "snapshot", "Save the running processes and their modules to a work file");
    snapshot_command
        ->add_option("-o,--output", snapshot->output,
                     "Work file to write (refused if it exists, unless --force)")
        ->type_name("FILE");
    snapshot_command->add_flag("--force", snapshot->force,
                               "Replace the --output file if it exists");
    snapshot_command
        ->add_option("--dir", snapshot->directory,
                     "Folder for a new LABEL-DATE-TIME.wrk file when there is no --output "
                     "(default: the current folder)")
        ->type_name("FOLDER");
    snapshot_command
        ->add_option("--label", snapshot->name,
                     "Snapshot name given to the library (at most 50 characters), and the start of "
                     "a new file's name")
        ->capture_default_str()
        ->type_name("LABEL");
    snapshot_command->add_flag("--no-versions", snapshot->no_versions,
                               "Do not read module file versions");
    add_listing_options(*snapshot_command, snapshot->listing);
    commands.push_back({snapshot_command, [snapshot](const Library& library) {
                            return run_snapshot(library, *snapshot);
                        }});

    auto show = std::make_shared<ShowOptions>();
    auto* show_command =
        app.add_subcommand("show", "List the processes and modules of a work file");
    show_command->add_option("WORKFILE", show->work_file, "Work file")
        ->required()
        ->type_name("FILE");
    add_listing_options(*show_command, show->listing);
    const auto report = add_report_options(*show_command, show->report);
    report.html->excludes(show_command->get_option("--json"))
        ->excludes(show_command->get_option("--csv"));
    show_command->add_flag("--force", show->report.force, "Replace the -o file if it exists")
        ->needs(report.output);
    commands.push_back(
        {show_command, [show](const Library& library) { return run_show(library, *show); }});
}

}  // namespace korvex::host
