// Inspection throughput over a folder of real PE images: what a viewer does
// for every file (map, module list, every module's functions, exports,
// unmap), against a floor that only maps each file and touches the pages
// such a listing must read. Prints both and their ratio; no pass or fail.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "floor.h"
#include "korvex32.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t list_everything(const std::vector<std::string>& files, std::vector<char>& buffer) {
    std::uint64_t bytes = 0;
    auto fill = [&](std::int32_t (*list)(char*)) {
        const std::int32_t size = list(nullptr);
        if (size <= 0) return;
        if (buffer.size() < static_cast<std::size_t>(size)) buffer.resize(static_cast<std::size_t>(size));
        bytes += static_cast<std::uint64_t>(list(buffer.data()));
    };
    std::vector<char> modules;
    std::vector<char> request;
    for (const auto& path : files) {
        if (MapFile(path.c_str()) != KORVEX_IMAGE_PE) continue;
        const std::int32_t size = GetImportModuleNamesPE(nullptr);
        if (size > 0) {
            modules.resize(static_cast<std::size_t>(size));
            GetImportModuleNamesPE(modules.data());
            for (const char* name = modules.data(); *name != '\0'; name += std::strlen(name) + 1) {
                const std::size_t length = std::strlen(name);
                request.assign(length + 2, '\0');
                request[0] = '0';
                std::copy(name, name + length, request.begin() + 1);
                const std::int32_t functions = GetImportFuncNamesByModulePE(request.data());
                if (functions <= 0) continue;
                if (request.size() < static_cast<std::size_t>(functions)) request.resize(static_cast<std::size_t>(functions));
                request[0] = '1';
                bytes += static_cast<std::uint64_t>(GetImportFuncNamesByModulePE(request.data()));
            }
        }
        fill(GetExportFunctionNamesPE);
        UnmapFile(0);
    }
    return bytes;
}

template <typename Work>
double median_ms(int rounds, Work work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/usr/lib/i386-linux-gnu/wine/i386-windows";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    std::vector<std::string> files;
    std::uintmax_t total = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        files.push_back(entry.path().string());
        total += entry.file_size();
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no files in %s\n", folder.c_str());
        return 1;
    }

    std::vector<char> buffer;
    volatile std::uint64_t sink = 0;
    sink = sink + list_everything(files, buffer) + korvex::bench::touch_floor(files);  // warm the cache

    const double floor = median_ms(rounds, [&] { sink = sink + korvex::bench::touch_floor(files); });
    const double library = median_ms(rounds, [&] { sink = sink + list_everything(files, buffer); });
    std::printf("inspection of %zu files (%.0f MiB) in %s, median of %d rounds\n", files.size(),
                static_cast<double>(total) / (1024.0 * 1024.0), folder.c_str(), rounds);
    std::printf("  floor (map, touch the pages read, unmap): %8.2f ms\n", floor);
    std::printf("  korvex32 (map, all lists, unmap):        %8.2f ms   %.2fx floor\n", library,
                library / floor);
    return 0;
}
