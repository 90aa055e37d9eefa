// Work-file writer and reader on 100,000 ModuleRecords, with rows-per-call 1
// and 1,000, against plain stream I/O of the same bytes in one call. Prints
// the median of several rounds and the ratios to the plain figures; shared
// machines are noisy, so the ratios of one run are the numbers that count.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "korvex32.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "snapshot/work_file_format.h"

namespace {

namespace snap = korvex::snapshot;

constexpr std::int32_t module_count = 100'000;
constexpr int rounds = 15;

double median_ms(const std::function<void()>& work) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void fill_module_table() {
    snap::ClearSnapShotTables();
    if (!snap::ReserveModuleRecords(module_count)) {
        std::fprintf(stderr, "workfile_bench: no storage for %d records\n", module_count);
        std::exit(1);
    }
    auto* bytes = reinterpret_cast<unsigned char*>(snap::module_table().records);
    for (std::size_t i = 0; i < std::size_t{module_count} * sizeof(ModuleRecord); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131 + 7);
}

void fail(const char* what) {
    std::fprintf(stderr, "workfile_bench: %s\n", what);
    std::exit(1);
}

}  // namespace

int main() {
    char folder[] = "/tmp/korvex-workfile-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) fail("no temporary folder");
    const std::string library_file = std::string(folder) + "/library.wrk";
    const std::string plain_file = std::string(folder) + "/plain.wrk";

    fill_module_table();
    const std::size_t file_size = snap::work_file_size(0, module_count);
    std::vector<unsigned char> image(file_size, 0);
    unsigned char count[snap::work_file_count_size];
    snap::encode_count(module_count, count);
    std::memcpy(&image[4], count, sizeof count);
    std::memcpy(&image[8], snap::module_table().records, file_size - 8);

    const double plain_write = median_ms([&] {
        std::FILE* stream = std::fopen(plain_file.c_str(), "wb");
        if (stream == nullptr) fail("cannot write");
        std::fwrite(image.data(), 1, image.size(), stream);
        if (std::fclose(stream) != 0) fail("cannot close");
    });
    const double plain_read = median_ms([&] {
        std::FILE* stream = std::fopen(plain_file.c_str(), "rb");
        if (stream == nullptr) fail("cannot read");
        auto* block = static_cast<unsigned char*>(std::malloc(image.size()));
        if (std::fread(block, 1, image.size(), stream) != image.size()) fail("short read");
        std::fclose(stream);
        std::free(block);
    });

    std::printf("work file of %d ModuleRecords (%zu bytes), median of %d rounds\n", module_count,
                file_size, rounds);
    std::printf("  plain fwrite, one call      %8.2f ms\n", plain_write);
    std::printf("  plain fread, one call       %8.2f ms\n", plain_read);
    for (std::int32_t rows : {1, 1000}) {
        SetRowsPerCall(rows);
        fill_module_table();
        const double write = median_ms([&] {
            if (snap::write_work_file(library_file.c_str()) != snap::work_file_written) fail("writer failed");
        });
        const double read = median_ms([&] {
            if (snap::read_work_file(library_file.c_str()) != snap::work_file_loaded) fail("reader failed");
        });
        if (snap::module_table().count != module_count) fail("reader lost records");
        std::printf("  writer, rows-per-call %-5d %8.2f ms   %.2fx plain\n", rows, write, write / plain_write);
        std::printf("  reader, rows-per-call %-5d %8.2f ms   %.2fx plain\n", rows, read, read / plain_read);
    }
    snap::ClearSnapShotTables();
    std::remove(library_file.c_str());
    std::remove(plain_file.c_str());
    ::rmdir(folder);
    return 0;
}
