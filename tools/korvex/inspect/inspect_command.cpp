// korvex inspect: the kind of each file, and what a PE image imports and
// exports.
#include <CLI/CLI.hpp>

#include <map>
#include <memory>

#include "core/command.h"
#include "core/console.h"
#include "core/text.h"
#include "inspect/file_list.h"
#include "inspect/inspect_output.h"
#include "inspect/inspection.h"
#include "pe/image_diagnosis.h"

namespace korvex::host {

namespace {

struct InspectOptions {
    FileArguments arguments;
    bool headers = false;  // --headers
    bool imports = false;  // --imports
    bool exports = false;  // --exports
    std::string csv;       // "imports", "exports" or "facts": that table of every file, as CSV
    std::vector<std::string> search;  // where DLLs imported by ordinal are looked for
    std::string system;
    bool json = false;
    bool json_lines = false;   // one compact JSON object per file, printed as it is done
    bool executables = false;  // files that do not begin with MZ are skipped, not failed

    // Without --headers, --imports or --exports every part is told; a CSV
    // table needs its part only.
    [[nodiscard]] InspectParts parts() const {
        if (!csv.empty()) return {csv == "facts", csv == "imports", csv == "exports"};
        if (!headers && !imports && !exports) return {};
        return {headers, imports, exports};
    }
};

// A failure in words; a folder, or a pattern the shell left, given without
// -r are the cases that have a better way to ask.
std::string failure_sentence(const Inspection& inspection, bool recursive) {
    std::string sentence = terminal_text(inspection.path) + " " + inspection.problem + ".";
    if (!recursive && inspection.problem == "is a folder")
        sentence += " (korvex inspect -r inspects the files in it)";
    if (!recursive && inspection.problem == "does not exist" && walk_pattern(inspection.path))
        sentence += " (korvex inspect -r takes the files of its folder's tree that match it)";
    return sentence;
}

int run_inspect(const Library& library, const InspectOptions& options) {
    if (options.arguments.files.empty() && options.arguments.files_from.empty())
        return report_usage_error("FILE is required", "inspect");
    std::vector<std::string> paths;
    std::string error;
    SkippedEntries skipped;
    if (!collect_files(options.arguments, paths, skipped, error)) {
        report_error(error);
        return exit_failure;
    }
    // Folders that could not be read have been reported already.
    if (paths.empty() && skipped.errors > 0) return exit_failure;
    const InspectParts parts = options.parts();
    OrdinalNames ordinal_names(options.search, options.system);
    if (!options.csv.empty()) print_csv_header(options.csv);
    Progress progress(paths.size());
    std::map<std::string, int> kinds;
    int failed = 0;
    std::size_t not_executables = 0;  // skipped by --executables
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < paths.size() && !output_failed(); ++i) {
        progress.show(i + 1, paths[i]);
        Inspection inspection = inspect_file(library, paths[i], parts);
        if (parts.imports && inspection.problem.empty())
            ordinal_names.name_imports(inspection.path, inspection.machine_id, inspection.imports);
        progress.clear();
        if (options.executables && inspection.not_executable) {
            ++not_executables;
            continue;
        }
        if (!inspection.problem.empty()) {
            ++failed;
            report_error(failure_sentence(inspection, options.arguments.recursive));
        } else {
            ++kinds[kind_name(inspection.code)];
            if (!options.csv.empty())
                print_inspection_csv(inspection, options.csv);
            else if (!options.json && !options.json_lines)
                print_inspection(inspection, parts);
        }
        if (options.json_lines) {
            // Each line leaves as soon as it is whole, for a reader that acts on it.
            print_json_line(inspection_json(inspection, parts));
            flush_output();
        } else if (options.json) {
            files.push_back(inspection_json(inspection, parts));
        }
    }

    const auto count = [&](const char* kind) { return kinds.count(kind) ? kinds[kind] : 0; };
    if (options.json) {
        print_json({{"files", files},
                    {"summary",
                     {{"files", paths.size() - not_executables},
                      {"PE", count("PE")},
                      {"NE", count("NE")},
                      {"LE", count("LE")},
                      {"MZ", count("MZ")},
                      {"failed", failed},
                      {"not_executables", not_executables},
                      {"skipped", skipped.skipped},
                      {"skipped_for_errors", skipped.errors}}}});
    } else if (!options.json_lines && options.csv.empty()) {
        print("%s: %d PE, %d NE, %d LE, %d MZ, %d failed",
              count_of(paths.size() - not_executables, "file", "files").c_str(), count("PE"),
              count("NE"), count("LE"), count("MZ"), failed);
        if (options.executables)
            print(", %s skipped", count_of(not_executables, "other file", "other files").c_str());
        if (options.arguments.recursive)
            print(", %s skipped in folders (%s for an error)",
                  std::to_string(skipped.skipped).c_str(), std::to_string(skipped.errors).c_str());
        print("\n");
    }
    return failed == 0 && skipped.errors == 0 ? exit_ok : exit_failure;
}

}  // namespace

void add_inspect_command(CLI::App& app, Commands& commands) {
    auto options = std::make_shared<InspectOptions>();
    auto* command = app.add_subcommand(
        "inspect", "Tell the kind of executables and list what they import and export");
    command
        ->add_option("FILE", options->arguments.files,
                     "Executable files (\"-\": read names from stdin, one a line)")
        ->type_name("FILE");
    command
        ->add_option("--files-from", options->arguments.files_from,
                     "Read names from this file, one a line (\"-\": stdin)")
        ->type_name("LIST");
    auto* recursive = command->add_flag("-r,--recursive", options->arguments.recursive,
                                        "Inspect the files in folders, and in their folders");
    command
        ->add_option("--include", options->arguments.include,
                     "Inspect only the files of a walk whose names match GLOB (* and ?, letter "
                     "case ignored; repeatable: any one matches)")
        ->allow_extra_args(false)
        ->type_name("GLOB")
        ->needs(recursive);
    command->add_flag("--executables", options->executables,
                      "Inspect only the files that begin with MZ; count the others as skipped, "
                      "not failed");
    command->add_flag("--headers", options->headers,
                      "Tell the header facts: subsystem, DLL characteristics, time stamp, ...");
    command->add_flag("--imports", options->imports, "List the imports, as the library gives them");
    command->add_flag("--exports", options->exports,
                      "List the exports with their ordinals and forwarders");
    command
        ->add_option("--search", options->search,
                     "Folder where DLLs imported by ordinal are looked for, to name those imports "
                     "(repeatable, after the file's own folder)")
        ->allow_extra_args(false)
        ->type_name("FOLDER");
    command
        ->add_option("--system", options->system,
                     "System folder for the same (default: Windows', or Wine's DLL folder)")
        ->type_name("FOLDER");
    auto* json = command->add_flag("--json", options->json, "Print one JSON document");
    auto* json_lines = command
                           ->add_flag("--json-lines", options->json_lines,
                                      "Print one JSON object a line, for each file as it is done")
                           ->excludes(json);
    command
        ->add_option("--csv", options->csv,
                     "Print one table of every file as CSV: imports, exports, or facts (the "
                     "version record, manifest and PDB of each)")
        ->check(CLI::IsMember({"imports", "exports", "facts"}))
        ->type_name("TABLE")
        ->excludes(json)
        ->excludes(json_lines);
    commands.push_back(
        {command, [options](const Library& library) { return run_inspect(library, *options); }});
}

}  // namespace korvex::host
