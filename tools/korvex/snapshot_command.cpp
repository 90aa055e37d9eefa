#include <ctime>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "diagnosis.h"
#include "output.h"
#include "private_folder.h"
#include "snapshot_reading.h"
#include "text.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

void print_pages(SnapshotPages& pages, const ListingOptions& listing,
                 const std::string& work_file) {
    apply_filter(pages, listing.filter);
    if (listing.json) {
        auto document = snapshot_json(pages);
        if (!work_file.empty()) document["work_file"] = to_utf8(work_file);
        print_json(document);
        return;
    }
    if (!listing.csv.empty()) {
        const TableFormat csv{listing.header, true};
        if (listing.csv == "processes")
            print_processes(pages.processes, csv);
        else
            print_modules(pages.modules, pages.processes, csv);
        return;
    }
    const TableFormat aligned{listing.header, false};
    if (listing.header) print("%zu processes\n", pages.processes.size());
    print_processes(pages.processes, aligned);
    if (listing.header)
        print("\n%zu modules\n", pages.modules.size());
    else
        print("\n");
    print_modules(pages.modules, pages.processes, aligned);
    if (!work_file.empty()) print("\nsnapshot saved to %s\n", work_file.c_str());
}

// The folder part of a path, separator kept ("." for a bare name).
std::string folder_of(const std::string& file) {
    const auto slash = file.find_last_of(path_separator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash + 1);
}

// "NAME-YYYYMMDD-HHMMSS.wrk" in `folder`, with "-2", "-3", ... when taken.
MoveResult move_to_new_file(const std::string& from, const std::string& folder,
                            const std::string& name, std::string& target, std::string& error) {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    const std::string stem =
        folder + (folder.back() == path_separator ? "" : std::string(1, path_separator)) + name +
        "-" + stamp;
    for (int copy = 1; copy < 1000; ++copy) {
        target = stem;
        if (copy > 1) target.append("-").append(std::to_string(copy));
        target.append(".wrk");
        const MoveResult result = move_into_place(from, target, false, error);
        if (result != MoveResult::target_exists) return result;
    }
    return MoveResult::target_exists;
}

}  // namespace

int run_snapshot(const Library& library, const SnapshotOptions& options) {
    if (options.name.empty() || options.name.size() > KORVEX_MAX_SNAPSHOT_NAME ||
        options.name.find_first_of("/\\:*?\"<>|") != std::string::npos) {
        report_error(
            "a label has 1 to 50 characters, none of / \\ : * ? \" < > or | (see korvex snapshot "
            "--help).");
        return exit_usage;
    }
    std::error_code ignored;
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
    // The work file is written inside a folder of this run's own next to its
    // destination, and moved into place only when it is complete.
    const PrivateFolder scratch(folder);
    if (!scratch.created()) {
        report_error("no work file can be created in " + folder + " (" + scratch.error() + ").");
        return exit_failure;
    }
    SnapshotPages pages;
    std::string work_file, error;
    if (!take_and_read(library, scratch.path(), options.name, options.versions,
                       options.listing.rows, pages, work_file, error)) {
        report_error(error + ".");
        return exit_failure;
    }
    std::string target = options.output;
    const MoveResult moved = options.output.empty()
                                 ? move_to_new_file(work_file, folder, options.name, target, error)
                                 : move_into_place(work_file, target, options.force, error);
    if (moved != MoveResult::moved) {
        report_error(moved == MoveResult::target_exists
                         ? target +
                               " already exists: use --force to replace it, or choose another file."
                         : "the work file could not be moved to " + target + " (" + error + ").");
        return exit_failure;
    }
    print_pages(pages, options.listing, target);
    return exit_ok;
}

int run_show(const Library& library, const ShowOptions& options) {
    SnapshotPages pages;
    std::string error;
    if (!load_work_file(library, options.work_file, options.listing.rows, pages, error)) {
        report_error(error);
        return exit_failure;
    }
    print_pages(pages, options.listing, {});
    return exit_ok;
}

}  // namespace korvex::host
