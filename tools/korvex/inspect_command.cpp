#include <cstdio>
#include <map>

#include "commands.h"
#include "console.h"
#include "inspection.h"
#include "output.h"

namespace korvex::host {

int run_inspect(const Library& library, const InspectOptions& options) {
    Progress progress(options.files.size());
    std::map<std::string, int> kinds;
    int failed = 0;
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < options.files.size() && !output_failed(); ++i) {
        const std::string& path = options.files[i];
        progress.show(i + 1, path);
        const Inspection inspection = inspect_file(library, path);
        progress.clear();
        if (inspection.code < 0) {
            ++failed;
            report_error(path + " " + inspection.problem + ".");
        } else {
            ++kinds[kind_name(inspection.code)];
            if (!options.json) print_inspection(stdout, inspection);
        }
        if (options.json) files.push_back(inspection_json(inspection));
    }

    const auto count = [&](const char* kind) { return kinds.count(kind) ? kinds[kind] : 0; };
    if (options.json) {
        print_json(stdout, {{"files", files},
                            {"summary",
                             {{"files", options.files.size()}, {"PE", count("PE")}, {"NE", count("NE")},
                              {"LE", count("LE")}, {"MZ", count("MZ")}, {"failed", failed}}}});
    } else {
        std::printf("%zu files: %d PE, %d NE, %d LE, %d MZ, %d failed\n", options.files.size(),
                    count("PE"), count("NE"), count("LE"), count("MZ"), failed);
    }
    return failed == 0 ? exit_ok : exit_failure;
}

}  // namespace korvex::host
