// What holding a large file costs in memory: MapFile of a 1 GiB file (a PE
// image with 2,000 imported modules at its start, the rest a hole), then its
// three name lists (size query and fill), then UnmapFile. Under Windows (and
// Wine) the figure is the process's private bytes, the commit the system
// charges it; natively the resident set, since a no-reserve mapping is
// charged nothing until it is written. Target: at most 64 MB after the lists.
//
//   held_file_commit [MiB]      (default 1024)
//
// The last lines ("result NAME VALUE") are for bench/run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#endif

#include "korvex32.h"
#include "pe_builder.h"

namespace {

using korvex::test::ImportSpec;

double charged_mib() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    // Wine leaves PrivateUsage at 0 and reports the private commit as the
    // page-file usage.
    const SIZE_T charged =
        counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    return static_cast<double>(charged) / (1 << 20);
#else
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
    return -1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    std::vector<ImportSpec> imports;
    for (int i = 0; i < 2000; ++i)
        imports.push_back({"module" + std::to_string(i) + ".dll", {korvex::test::by_name("f")}});
    const auto image = korvex::test::pe_image(korvex::test::PeKind::pe32, imports, {"a", "b"});
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "korvex_held_file_commit.bin";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
    }
    std::filesystem::resize_file(path, mib << 20);

    const double before = charged_mib();
    // In a 32-bit process the copy needs address space as large as the file
    // in one piece; where there is none, MapFile answers -3.
    if (const std::int32_t kind = MapFile(path.string().c_str()); kind != KORVEX_IMAGE_PE) {
        std::fprintf(stderr, "held_file_commit: MapFile answered %d\n", static_cast<int>(kind));
        std::filesystem::remove(path);
        return 1;
    }
    const double mapped = charged_mib();
    std::vector<char> list(static_cast<std::size_t>(GetImportModuleNamesPE(nullptr)) + 1);
    GetImportModuleNamesPE(list.data());
    std::vector<char> exports(static_cast<std::size_t>(GetExportFunctionNamesPE(nullptr)) + 1);
    GetExportFunctionNamesPE(exports.data());
    for (int i = 0; i < 2000; i += 7) {
        char request[32];
        std::snprintf(request, sizeof request, "0module%d.dll", i);
        std::vector<char> functions(
            static_cast<std::size_t>(GetImportFuncNamesByModulePE(request)) + 32);
        std::snprintf(functions.data(), functions.size(), "1module%d.dll", i);
        GetImportFuncNamesByModulePE(functions.data());
    }
    const double listed = charged_mib();
    UnmapFile(0);
    const double released = charged_mib();
    std::filesystem::remove(path);

    std::printf(
        "file %llu MiB: charged %.1f MiB before, +%.1f after MapFile, +%.1f after the "
        "lists, +%.1f after UnmapFile (target: +64 or less after the lists)\n",
        static_cast<unsigned long long>(mib), before, mapped - before, listed - before,
        released - before);
    std::printf("result held_file.mapped_mib %.1f\nresult held_file.listed_mib %.1f\n",
                mapped - before, listed - before);
    return listed - before <= 64 ? 0 : 2;
}
