// Inspection throughput under Wine through the shipped DLL, loaded the way a
// host loads it (LoadLibrary, GetProcAddress by ordinal), against the two
// floors of floor.h in the same process: bare Win32 calls that map the file
// and touch the pages a listing reads (CreateFileA, CreateFileMappingA,
// MapViewOfFile, UnmapViewOfFile, CloseHandle), and ReadFile of only the
// blocks it reads. Rounds interleave the three.
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
    const auto times = korvex::bench::time_inspection(api, corpus.files, rounds);
    FreeLibrary(library);
    std::printf(
        "inspection under Wine of %zu files (%.0f MiB) in %s, %d interleaved rounds, "
        "medians:\n",
        corpus.files.size(), static_cast<double>(corpus.bytes) / (1024.0 * 1024.0),
        corpus.folder.c_str(), rounds);
    korvex::bench::print_inspection(times, "inspect.pe32.wine", "korvex32.dll by ordinal");
    std::printf("result inspect.pe32.wine.files %zu\n", corpus.files.size());
    return 0;
}
