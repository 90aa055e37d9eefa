// korvex diff: what changed between two snapshots, in words or as JSON.
#include <CLI/CLI.hpp>

#include <memory>

#include "core/command.h"
#include "core/console.h"
#include "core/host_os.h"
#include "core/text.h"
#include "report/report_output.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/snapshot_html.h"
#include "snapshot/snapshot_listing.h"

namespace korvex::host {

namespace {

using nlohmann::json;

struct DiffOptions {
    std::string before, after;  // work files
    std::int32_t rows = 50;
    bool json = false;
    bool include_korvex = false;  // keep korvex's own processes in the comparison
    ReportOutput report;
};

// The names of both snapshots' files: a module that ended or was unloaded is
// named as the earlier snapshot saw it, everything else as the later one.
struct DiffNames {
    const LongNames& before;
    const LongNames& after;
};

json change_json(const ProcessChange& change, const LongNames& process_names,
                 const DiffNames& names) {
    json document = process_json(*change.process, process_names);
    const auto list = [](const std::vector<const ModuleRecord*>& modules, const LongNames& from) {
        json array = json::array();
        for (const auto* m : modules) array.push_back(module_json(*m, from));
        return array;
    };
    document["loaded"] = list(change.loaded, names.after);
    document["unloaded"] = list(change.unloaded, names.before);
    json updated = json::array();
    for (const auto& [was, is] : change.updated)
        updated.push_back({{"before", module_json(*was, names.before)},
                           {"after", module_json(*is, names.after)}});
    document["updated"] = updated;
    return document;
}

// The --json document, which the HTML page shows too.
json difference_json(const Difference& difference, const DiffNames& names) {
    const auto list = [&](const std::vector<ProcessChange>& changes, const LongNames& from) {
        json array = json::array();
        for (const auto& change : changes) array.push_back(change_json(change, from, names));
        return array;
    };
    return {{"started", list(difference.started, names.after)},
            {"ended", list(difference.ended, names.before)},
            {"changed", list(difference.changed, names.after)}};
}

std::string module_line(const ModuleRecord& m, const LongNames& names) {
    const std::string version = field_text(m.szVersion);
    return terminal_text(with_long_name(module_key(m), names.of_module(m))) + " (" +
           terminal_line(version.empty() ? "" : version + ", ") + std::to_string(m.dwFileSize) +
           " bytes)";
}

void print_change(const char* what, const ProcessChange& change, const LongNames& process_names,
                  const DiffNames& names) {
    const std::string exe = field_text(change.process->szExeFile);
    print("%s %u %s\n", what, change.process->th32ProcessID,
          terminal_text(with_long_name(exe, process_names.of_process(*change.process))).c_str());
    for (const auto* m : change.loaded) print("  + %s\n", module_line(*m, names.after).c_str());
    for (const auto* m : change.unloaded) print("  - %s\n", module_line(*m, names.before).c_str());
    for (const auto& [was, is] : change.updated)
        print("  ~ %s -> %s\n", module_line(*was, names.before).c_str(),
              module_line(*is, names.after).c_str());
}

int run_diff(const Library& library, const DiffOptions& options) {
    if (const int target = check_report_target(options.report); target != exit_ok) return target;
    SnapshotPages before, after;
    std::string error;
    if (!load_work_file(library, options.before, options.rows, before, error) ||
        !load_work_file(library, options.after, options.rows, after, error)) {
        report_error(error);
        return exit_failure;
    }
    const Difference difference =
        compare_snapshots(before, after, options.include_korvex ? "" : own_program_name());
    const LongNames before_names(before), after_names(after);
    const DiffNames names{before_names, after_names};
    if (options.report.html)
        return write_report(options.report, diff_html(difference_json(difference, names)));
    if (options.json) {
        print_json(difference_json(difference, names));
        return exit_ok;
    }
    for (const auto& change : difference.started)
        print_change("started", change, after_names, names);
    for (const auto& change : difference.ended) print_change("ended", change, before_names, names);
    for (const auto& change : difference.changed)
        print_change("changed", change, after_names, names);
    print("%zu started, %zu ended, %zu changed\n", difference.started.size(),
          difference.ended.size(), difference.changed.size());
    return exit_ok;
}

}  // namespace

void add_diff_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<DiffOptions>();
    auto* command =
        app.add_subcommand("diff",
                           "Compare two work files: processes started and ended, modules loaded, "
                           "unloaded and updated");
    command->add_option("BEFORE", options->before, "The earlier work file")
        ->required()
        ->type_name("FILE");
    command->add_option("AFTER", options->after, "The later work file")
        ->required()
        ->type_name("FILE");
    command->add_option("--rows", options->rows, "Records per read call, 1 to 1000000")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str()
        ->type_name("N");
    command->add_flag("--include-korvex", options->include_korvex,
                      "Compare korvex's own processes too (left out by default: each snapshot "
                      "catches the korvex that took it)");
    auto* json_flag = command->add_flag("--json", options->json, "Print JSON");
    const auto report = add_report_options(*command, options->report);
    report.html->excludes(json_flag);
    command->add_flag("--force", options->report.force, "Replace the -o file if it exists")
        ->needs(report.output);
    commands.push_back(
        {command, [options](const Library& library) { return run_diff(library, *options); }});
}

}  // namespace korvex::host
