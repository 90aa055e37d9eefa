#include <cstdio>
#include <map>

#include "commands.h"
#include "inspection.h"
#include "output.h"
#include "terminal.h"

namespace korvex::host {

int run_inspect(const Library& library, const InspectOptions& options) {
    const bool show_progress = options.files.size() > 1 && stderr_is_terminal();
    std::map<std::string, int> kinds;
    int failed = 0;
    nlohmann::json files = nlohmann::json::array();
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const std::string& path = options.files[i];
        if (show_progress) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", i + 1, options.files.size(), path.c_str());
        const Inspection inspection = inspect_file(library, path);
        if (inspection.code < 0) {
            ++failed;
            if (show_progress) std::fputs("\r\033[K", stderr);
            report_error(path + ": " + describe_map_result(inspection.code) + ".");
        } else {
            ++kinds[kind_name(inspection.code)];
            if (!options.json) print_inspection(stdout, inspection);
        }
        if (options.json) files.push_back(inspection_json(inspection));
    }
    if (show_progress) std::fputs("\r\033[K", stderr);

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
    return failed == 0 ? exit_ok : exit_library_failure;
}

}  // namespace korvex::host
