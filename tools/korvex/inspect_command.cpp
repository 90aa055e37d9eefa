#include <cstdio>
#include <map>

#include "commands.h"
#include "console.h"
#include "file_list.h"
#include "inspection.h"
#include "output.h"

namespace korvex::host {

int run_inspect(const Library& library, const InspectOptions& options) {
    std::vector<std::string> paths;
    std::string error;
    if (!collect_files(options, paths, error)) {
        report_error(error);
        return exit_failure;
    }
    if (paths.empty()) {
        report_error("no files to inspect (see korvex inspect --help).");
        return exit_usage;
    }
    Progress progress(paths.size());
    std::map<std::string, int> kinds;
    int failed = 0;
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < paths.size() && !output_failed(); ++i) {
        progress.show(i + 1, paths[i]);
        const Inspection inspection =
            inspect_file(library, paths[i], options.imports, options.exports);
        progress.clear();
        if (!inspection.problem.empty()) {
            ++failed;
            report_error(paths[i] + " " + inspection.problem + ".");
        } else {
            ++kinds[kind_name(inspection.code)];
            if (!options.json && !options.json_lines)
                print_inspection(inspection, options.imports, options.exports);
        }
        if (options.json_lines) {
            // Each line leaves as soon as it is whole, for a reader that acts on it.
            print_json_line(inspection_json(inspection, options.imports, options.exports));
            flush_output();
        } else if (options.json)
            files.push_back(inspection_json(inspection, options.imports, options.exports));
    }

    const auto count = [&](const char* kind) { return kinds.count(kind) ? kinds[kind] : 0; };
    if (options.json) {
        print_json({{"files", files},
                    {"summary",
                     {{"files", paths.size()},
                      {"PE", count("PE")},
                      {"NE", count("NE")},
                      {"LE", count("LE")},
                      {"MZ", count("MZ")},
                      {"failed", failed}}}});
    } else if (!options.json_lines) {
        print("%zu files: %d PE, %d NE, %d LE, %d MZ, %d failed\n", paths.size(), count("PE"),
              count("NE"), count("LE"), count("MZ"), failed);
    }
    return failed == 0 ? exit_ok : exit_failure;
}

}  // namespace korvex::host
