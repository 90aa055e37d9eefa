#include "inspection_host.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "floor.h"

namespace korvex::bench {

namespace {

using Clock = std::chrono::steady_clock;

Figure figure(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

template <typename Work>
double time_ms(Work&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void make_room(std::vector<char>& buffer, std::size_t size) {
    if (buffer.size() < size) buffer.resize(size);
}

}  // namespace

std::uint64_t inspect_all(const InspectionApi& api, const std::vector<std::string>& files,
                          HostBuffers& buffers) {
    std::uint64_t listed = 0;
    for (const std::string& path : files) {
        if (api.map_file(path.c_str()) != KORVEX_IMAGE_PE) continue;

        const std::int32_t modules_size = api.import_modules(nullptr);
        if (modules_size > 0) {
            make_room(buffers.modules, static_cast<std::size_t>(modules_size));
            listed += static_cast<std::uint64_t>(api.import_modules(buffers.modules.data()));
            for (const char* name = buffers.modules.data(); *name != '\0';) {
                const std::size_t length = std::strlen(name);
                // Mode byte, the module's name and its NUL.
                make_room(buffers.request, length + 2);
                buffers.request[0] = '0';
                std::memcpy(&buffers.request[1], name, length + 1);
                const std::int32_t functions_size = api.import_functions(buffers.request.data());
                if (functions_size > 0) {
                    make_room(buffers.request, static_cast<std::size_t>(functions_size));
                    buffers.request[0] = '1';
                    listed +=
                        static_cast<std::uint64_t>(api.import_functions(buffers.request.data()));
                }
                name += length + 1;
            }
        }

        const std::int32_t exports_size = api.export_names(nullptr);
        if (exports_size > 0) {
            make_room(buffers.exports, static_cast<std::size_t>(exports_size));
            listed += static_cast<std::uint64_t>(api.export_names(buffers.exports.data()));
        }
        api.unmap_file(0);
    }
    return listed;
}

InspectionTimes time_inspection(const InspectionApi& api, const std::vector<std::string>& files,
                                int rounds) {
    HostBuffers buffers;
    ReadFloor read_floor(plan_reads(files));
    volatile std::uint64_t sink = 0;
    sink = sink + inspect_all(api, files, buffers) + touch_floor(files) + read_floor.run();
    std::vector<double> map_ms, read_ms, library_ms, map_ratio, read_ratio;
    for (int round = 0; round < rounds; ++round) {
        // The order turns from round to round, so that none of the three
        // always follows the same one.
        double times[3] = {};
        for (int i = 0; i < 3; ++i) {
            switch ((round + i) % 3) {
                case 0:
                    times[0] = time_ms([&] { sink = sink + touch_floor(files); });
                    break;
                case 1:
                    times[1] = time_ms([&] { sink = sink + read_floor.run(); });
                    break;
                default:
                    times[2] = time_ms([&] { sink = sink + inspect_all(api, files, buffers); });
            }
        }
        map_ms.push_back(times[0]);
        read_ms.push_back(times[1]);
        library_ms.push_back(times[2]);
        map_ratio.push_back(times[2] / times[0]);
        read_ratio.push_back(times[2] / times[1]);
    }
    InspectionTimes out;
    out.map_floor = figure(map_ms);
    out.read_floor = figure(read_ms);
    out.library = figure(library_ms);
    out.map_ratio = figure(map_ratio);
    out.read_ratio = figure(read_ratio);
    out.rounds = rounds;
    out.reads = read_floor.plan().reads;
    out.blocks = read_floor.plan().blocks;
    return out;
}

void print_inspection(const InspectionTimes& t, const char* prefix, const char* library) {
    const auto line = [](const char* what, const Figure& f) {
        std::printf("  %-44s %8.2f ms  (%.2f to %.2f)\n", what, f.median_ms, f.low_ms, f.high_ms);
    };
    line("map floor (map, touch the pages, unmap)", t.map_floor);
    line("read floor (read only the blocks listed)", t.read_floor);
    line(library, t.library);
    std::printf("  %s: %.2fx the map floor (%.2f to %.2f), %.2fx the read floor (%.2f to %.2f)\n",
                library, t.map_ratio.median_ms, t.map_ratio.low_ms, t.map_ratio.high_ms,
                t.read_ratio.median_ms, t.read_ratio.low_ms, t.read_ratio.high_ms);
    std::printf("  read floor: %zu reads of %zu blocks of 4 KiB per pass; %d rounds\n", t.reads,
                t.blocks, t.rounds);
    const auto result = [prefix](const char* key, const Figure& f) {
        std::printf("result %s.%s %.3f\nresult %s.%s.low %.3f\nresult %s.%s.high %.3f\n", prefix,
                    key, f.median_ms, prefix, key, f.low_ms, prefix, key, f.high_ms);
    };
    result("floor", t.map_floor);
    result("read_floor", t.read_floor);
    result("korvex", t.library);
    result("ratio_map", t.map_ratio);
    result("ratio_read", t.read_ratio);
    std::printf("result %s.reads %zu\nresult %s.blocks %zu\nresult %s.rounds %d\n", prefix, t.reads,
                prefix, t.blocks, prefix, t.rounds);
}

std::vector<FileTime> time_each_file(const InspectionApi& api,
                                     const std::vector<std::string>& files) {
    HostBuffers buffers;
    std::vector<FileTime> times;
    for (const std::string& path : files) {
        const std::vector<std::string> one{path};
        double best = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            volatile std::uint64_t sink = 0;
            const double ms = time_ms([&] { sink = sink + inspect_all(api, one, buffers); });
            if (attempt == 0 || ms < best) best = ms;
            // One slow try is enough to know that a file is far from the rest.
            if (ms > 1000) break;
        }
        times.push_back({path, best});
    }
    std::sort(times.begin(), times.end(),
              [](const FileTime& a, const FileTime& b) { return a.ms > b.ms; });
    return times;
}

}  // namespace korvex::bench
