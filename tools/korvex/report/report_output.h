// Where an HTML report goes: to stdout, or (-o) to a file that is written
// whole under a new name beside its destination and then renamed into place,
// so that no reader ever sees half a report and nothing is written through a
// file or link that already stands there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/host_os.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace korvex::host {

struct ReportOutput {
    bool html = false;   // --html
    std::string file;    // -o; empty: stdout
    bool force = false;  // replace `file` if it exists (each command adds --force itself)
};

struct ReportOptions {
    CLI::Option* html;
    CLI::Option* output;
};

// --html and -o/--output FILE; -o without --html is a usage error.
ReportOptions add_report_options(CLI::App& command, ReportOutput& report);

// Whether the -o file can be written, asked before the work begins (and
// answered again by the rename at the end): exit_usage when it names a
// folder, exit_failure when its folder is missing or it exists without
// --force, exit_ok otherwise (and without -o). Says why on stderr.
int check_report_target(const ReportOutput& report);

// Writes `page` to stdout, or to the -o file: created exclusively under a new
// name in the same folder and renamed over the destination only with
// --force (a rename replaces the name, never writing through what stood
// there). The exit status, with the cause on stderr on failure.
int write_report(const ReportOutput& report, const std::string& page);

}  // namespace korvex::host
