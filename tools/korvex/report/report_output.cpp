#include <CLI/CLI.hpp>

#include "core/files.h"
#include "report/report_output.h"

#include <filesystem>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/files.h"
#include "core/host_os.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

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
