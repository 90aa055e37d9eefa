// Inspection throughput under Wine through the shipped DLL, loaded the way a
// host loads it (LoadLibrary, GetProcAddress by ordinal), against a floor
// program's work in the same process: the same bare Win32 calls (CreateFileA,
// CreateFileMappingA, MapViewOfFile, touching the pages a listing reads,
// UnmapViewOfFile, CloseHandle; floor.h). Rounds alternate between the two.
//
//   inspect_dll_bench.exe [folder] [rounds]
//       folder defaults to Z:\usr\lib\i386-linux-gnu\wine\i386-windows
//
// The last lines ("result NAME MS") are for bench/run.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "corpus.h"
#include "export_table.h"
#include "inspection_host.h"

int main(int argc, char** argv) {
    const korvex::bench::Corpus corpus = korvex::bench::list_corpus(
        argc > 1 ? argv[1] : "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;

    HMODULE library = LoadLibraryA(KORVEX_DLL_PATH);
    if (library == nullptr) {
        std::fprintf(stderr, "inspect_dll_bench: cannot load %s\n", KORVEX_DLL_PATH);
        return 1;
    }
    korvex::ExportFunctions exports;
    if (const char* missing = korvex::bind_exports(exports, [library](int ordinal, const char*) {
            return reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal)));
        })) {
        std::fprintf(stderr, "inspect_dll_bench: no export %s\n", missing);
        return 1;
    }
    const korvex::bench::InspectionApi api{exports.map_file, exports.unmap_file,
                                           exports.import_modules, exports.import_functions,
                                           exports.export_names};
    const auto [floor, dll] = korvex::bench::time_inspection(api, corpus.files, rounds);
    FreeLibrary(library);
    std::printf("inspection under Wine of %zu files (%.0f MiB) in %s, median of %d rounds\n",
                corpus.files.size(), static_cast<double>(corpus.bytes) / (1024.0 * 1024.0),
                corpus.folder.c_str(), rounds);
    std::printf("  floor (bare Win32 calls, touch the pages read): %8.2f ms\n", floor);
    std::printf("  korvex32.dll by ordinal (map, all lists, unmap): %8.2f ms   %.2fx floor\n", dll,
                dll / floor);
    std::printf("result inspect.wine.floor %.3f\nresult inspect.wine.korvex %.3f\n", floor, dll);
    std::printf("result inspect.files %zu\n", corpus.files.size());
    return 0;
}
