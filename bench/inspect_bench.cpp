// Inspection throughput over a folder of real PE images, natively with the
// library linked in: what a viewer does for every file (inspection_host.h)
// against the two floors of floor.h, in interleaved rounds.
//
//   inspect_bench [folder] [rounds] [name]
//       defaults: Wine's i386-windows folder, 21 rounds; `name` names the
//       corpus in the result lines (pe32 by default)
//   inspect_bench --slowest FOLDER... each file of the folders and the images
//                                     of edge_shapes.h alone; the slowest five
//
// The last lines ("result NAME VALUE") are for bench/run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "corpus.h"
#include "edge_shapes.h"
#include "inspection_host.h"

namespace {

constexpr korvex::bench::InspectionApi api{MapFile, UnmapFile, GetImportModuleNamesPE,
                                           GetImportFuncNamesByModulePE, GetExportFunctionNamesPE};

// The limit a single file's listing must stay under, whatever its shape.
constexpr double slow_file_ms = 50;

int slowest(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const auto corpus = korvex::bench::list_corpus(argv[i]);
        files.insert(files.end(), corpus.files.begin(), corpus.files.end());
    }
    const auto folder = std::filesystem::temp_directory_path() / "korvex-edge-shapes";
    std::filesystem::create_directories(folder);
    const auto shapes = korvex::bench::write_edge_shapes(folder.string());
    files.insert(files.end(), shapes.begin(), shapes.end());

    const auto times = korvex::bench::time_each_file(api, files);
    std::filesystem::remove_all(folder);
    const auto over = std::count_if(times.begin(), times.end(),
                                    [](const auto& file) { return file.ms > slow_file_ms; });
    std::printf("each of %zu files listed alone (best of 3): %zd over %.0f ms; the slowest:\n",
                times.size(), over, slow_file_ms);
    for (std::size_t i = 0; i < std::min<std::size_t>(5, times.size()); ++i) {
        const std::string name = std::filesystem::path(times[i].path).filename().string();
        std::printf("  %8.2f ms  %s\n", times[i].ms, name.c_str());
    }
    std::printf("result slowest.files %zu\nresult slowest.over %zd\n", times.size(), over);
    std::printf("result slowest.ms %.3f\n", times.empty() ? 0.0 : times.front().ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--slowest") == 0) return slowest(argc, argv);
    const korvex::bench::Corpus corpus =
        korvex::bench::list_corpus(argc > 1 ? argv[1] : korvex::bench::default_corpus_folder);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    const std::string prefix = std::string("inspect.") + (argc > 3 ? argv[3] : "pe32") + ".native";

    const auto times = korvex::bench::time_inspection(api, corpus.files, rounds);
    std::printf("inspection of %zu files (%.0f MiB) in %s, %d interleaved rounds, medians:\n",
                corpus.files.size(), static_cast<double>(corpus.bytes) / (1024.0 * 1024.0),
                corpus.folder.c_str(), rounds);
    korvex::bench::print_inspection(times, prefix.c_str(), "korvex32 (map, all lists, unmap)");
    std::printf("result %s.files %zu\n", prefix.c_str(), corpus.files.size());
    return 0;
}
