#include "core/report_file.h"

#include <filesystem>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/diagnosis.h"
#include "core/host_os.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

// Names korvex may try for the file it writes before the rename; a name
// taken by anything (a file, a link, a folder) is passed over.
constexpr int name_attempts = 100;

std::string exists_sentence(const std::string& file) {
    return file + " already exists: use --force to replace it, or choose another file.";
}

}  // namespace

ReportOptions add_report_options(CLI::App& command, ReportOutput& report) {
    auto* html = command.add_flag(
        "--html", report.html,
        "Write one self-contained HTML page of the report (to stdout, or to -o FILE)");
    auto* output =
        command
            .add_option("-o,--output", report.file,
                        "HTML file to write with --html (refused if it exists, unless --force)")
            ->type_name("FILE")
            ->needs(html);
    return {html, output};
}

std::string folder_of(const std::string& file) {
    const auto slash = file.find_last_of(path_separator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash + 1);
}

int check_report_target(const ReportOutput& report) {
    if (report.file.empty()) return exit_ok;
    std::error_code ignored;
    if (fs::is_directory(native_path(report.file), ignored)) {
        report_error(report.file + " is a folder: -o names the HTML file to write.");
        return exit_usage;
    }
    const std::string folder = folder_of(report.file);
    if (const auto problem = folder_problem(folder); !problem.empty()) {
        report_error("the folder " + folder + " " + problem + ".");
        return exit_failure;
    }
    if (!report.force && fs::exists(fs::symlink_status(native_path(report.file), ignored))) {
        report_error(exists_sentence(report.file));
        return exit_failure;
    }
    return exit_ok;
}

namespace {

// Writes `bytes` into a new file of korvex's own in the folder of
// `targets`, then moves it to the first target that takes it; the name
// written is removed whenever it was not moved.
MoveResult write_and_move(const std::vector<std::string>& targets, std::string_view bytes,
                          bool replace, FileMode mode, std::string& placed, std::string& error) {
    // Same folder, so that the rename stays on one file system.
    const std::string folder = folder_of(targets.front());
    const std::string prefix = folder == "." ? std::string() : folder;  // "." for a bare name
    std::string written;
    CreateResult created = CreateResult::name_taken;
    for (int attempt = 0; attempt < name_attempts && created == CreateResult::name_taken;
         ++attempt) {
        written = prefix + ".korvex-" + std::to_string(own_process_id()) + "-" +
                  std::to_string(attempt) + ".tmp";
        created = create_new_file(written, bytes, mode, error);
    }
    if (created != CreateResult::created) {
        if (created == CreateResult::name_taken) error = "every name korvex tried is taken";
        return MoveResult::failed;
    }
    MoveResult moved = MoveResult::target_exists;
    for (std::size_t at = 0; at < targets.size() && moved == MoveResult::target_exists; ++at) {
        placed = targets[at];
        moved = move_into_place(written, placed, replace, error);
    }
    if (moved != MoveResult::moved) {
        std::error_code ignored;
        fs::remove(native_path(written), ignored);
    }
    return moved;
}

}  // namespace

MoveResult place_file(const std::string& path, std::string_view bytes, bool replace,
                      std::string& error, FileMode mode) {
    std::string placed;
    return write_and_move({path}, bytes, replace, mode, placed, error);
}

MoveResult place_new_file(const std::vector<std::string>& paths, std::string_view bytes,
                          std::string& placed, std::string& error) {
    return write_and_move(paths, bytes, false, FileMode::plain, placed, error);
}

int write_report(const ReportOutput& report, const std::string& page) {
    if (report.file.empty()) {
        print_text(page);
        return exit_ok;
    }
    std::string error;
    const MoveResult moved = place_file(report.file, page, report.force, error);
    if (moved == MoveResult::moved) return exit_ok;
    report_error(moved == MoveResult::target_exists
                     ? exists_sentence(report.file)
                     : "the report could not be written to " + report.file + " (" + error + ").");
    return exit_failure;
}

}  // namespace korvex::host
