#include "inspection_host.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "floor.h"

namespace korvex::bench {

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    volatile std::uint64_t sink = 0;
    sink = sink + inspect_all(api, files, buffers) + touch_floor(files);
    std::vector<double> floor_ms, library_ms;
    for (int round = 0; round < rounds; ++round) {
        floor_ms.push_back(time_ms([&] { sink = sink + touch_floor(files); }));
        library_ms.push_back(time_ms([&] { sink = sink + inspect_all(api, files, buffers); }));
    }
    return {median(floor_ms), median(library_ms)};
}

}  // namespace korvex::bench
