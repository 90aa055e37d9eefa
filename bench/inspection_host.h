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

// Median milliseconds of the floor (floor.h) and of inspect_all over `files`,
// after one untimed pass of each that warms the page cache and the host's
// buffers. Rounds alternate between the two so that a change in machine
// load touches both alike.
struct InspectionTimes {
    double floor_ms;
    double library_ms;
};
InspectionTimes time_inspection(const InspectionApi& api, const std::vector<std::string>& files,
                                int rounds);

}  // namespace korvex::bench
