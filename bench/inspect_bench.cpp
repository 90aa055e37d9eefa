// Inspection throughput over a folder of real PE images, natively with the
// library linked in: what a viewer does for every file (inspection_host.h)
// against a floor that only maps each file and touches the pages such a
// listing must read (floor.h); medians of alternating rounds are printed.
//
//   inspect_bench [folder] [rounds]   (defaults: Wine's i386-windows folder, 21)
//
// The last lines ("result NAME MS") are for bench/run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "corpus.h"
#include "inspection_host.h"

int main(int argc, char** argv) {
    const korvex::bench::Corpus corpus =
        korvex::bench::list_corpus(argc > 1 ? argv[1] : korvex::bench::default_corpus_folder);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;

    const korvex::bench::InspectionApi api{MapFile, UnmapFile, GetImportModuleNamesPE,
                                           GetImportFuncNamesByModulePE, GetExportFunctionNamesPE};
    const auto [floor, library] = korvex::bench::time_inspection(api, corpus.files, rounds);
    std::printf("inspection of %zu files (%.0f MiB) in %s, median of %d rounds\n",
                corpus.files.size(), static_cast<double>(corpus.bytes) / (1024.0 * 1024.0),
                corpus.folder.c_str(), rounds);
    std::printf("  floor (map, touch the pages read, unmap): %8.2f ms\n", floor);
    std::printf("  korvex32 (map, all lists, unmap):        %8.2f ms   %.2fx floor\n", library,
                library / floor);
    std::printf("result inspect.native.floor %.3f\nresult inspect.native.korvex %.3f\n", floor,
                library);
    std::printf("result inspect.files %zu\n", corpus.files.size());
    return 0;
}
