// What a viewer does for every file it opens, through the library's five
// inspection exports: MapFile, the module list (size query, fill), every
// module's function list (size query, fill), the export list (size query,
// fill), UnmapFile. The same code drives the library linked in (natively)
// and the DLL loaded by ordinal (under Wine).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::bench {

struct InspectionApi {
    decltype(&MapFile) map_file;
    decltype(&UnmapFile) unmap_file;
    decltype(&GetImportModuleNamesPE) import_modules;
    decltype(&GetImportFuncNamesByModulePE) import_functions;
    decltype(&GetExportFunctionNamesPE) export_names;
};

// The host's own buffers, grown as needed and kept from file to file, as a
// viewer would keep them.
struct HostBuffers {
    std::vector<char> modules;
    std::vector<char> request;
    std::vector<char> exports;
};

// Answers the sum of the list sizes, so the work cannot be left out.
std::uint64_t inspect_all(const InspectionApi& api, const std::vector<std::string>& files,
                          HostBuffers& buffers);

// The rounds of one figure: its median and its range.
struct Figure {
    double median_ms = 0;
    double low_ms = 0;
    double high_ms = 0;
};

struct InspectionTimes {
    Figure map_floor;
    Figure read_floor;
    Figure library;
    // Per round: the library's time over each floor's in that round, so that
    // a change in machine load between rounds does not widen the ratio.
    Figure map_ratio;
    Figure read_ratio;
    int rounds = 0;
    std::size_t reads = 0;   // read calls of the read floor in one pass
    std::size_t blocks = 0;  // 4 KiB blocks it reads in one pass
};

// The two floors (floor.h) and inspect_all over `files`, after one untimed
// pass of each that warms the page cache and the host's buffers. Rounds
// interleave the three so that a change in machine load touches all alike.
InspectionTimes time_inspection(const InspectionApi& api, const std::vector<std::string>& files,
                                int rounds);

// Prints the times, the ratios to both floors and the "result" lines that
// bench/run gathers under `prefix` (inspect.CORPUS.native or .wine).
void print_inspection(const InspectionTimes& times, const char* prefix, const char* library);

// The slowest files of `files`, each listed alone (the best of a few tries),
// slowest first.
struct FileTime {
    std::string path;
    double ms = 0;
};
std::vector<FileTime> time_each_file(const InspectionApi& api,
                                     const std::vector<std::string>& files);

}  // namespace korvex::bench
