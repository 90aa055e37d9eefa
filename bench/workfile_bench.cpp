// Work-file writer and reader on 100,000 ModuleRecords, with rows-per-call 1
// and 1,000, against plain stream I/O of the same bytes:
//   plain, one call   the whole file in one fwrite / one fread;
//   plain, same runs  the same stream calls as the library makes (two counts,
//                     then one call per run), with the runtime's own buffer.
// Every read, plain or not, lands in memory obtained afresh for that round
// the way the reader obtains its table: the previous block is released, then
// one of the same size is allocated, placed as the reader places its table. Rounds are interleaved
// so that a change in machine load touches every figure alike; medians are printed, and the ratios
// of one run are the numbers that count.
//
//   workfile_bench [rounds]      (default 15)
//
// The last lines ("result NAME MS") are for bench/run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "korvex32.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"

namespace {

namespace snap = korvex::snapshot;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t module_count = 100'000;
constexpr std::size_t record_bytes = sizeof(ModuleRecord);

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "workfile_bench: %s\n", what);
    std::exit(1);
}

void fill_module_table() {
    snap::ClearSnapShotTables();
    // Placed as for a file whose ModuleRecords start at byte 8 (no
    // processes), like the plain image's bytes below: writes from both then
    // copy between equally aligned addresses.
    if (!snap::reserve_module_records(module_count, 8)) fail("no storage for the records");
    auto* bytes = reinterpret_cast<unsigned char*>(snap::module_table().records);
    for (std::size_t i = 0; i < std::size_t{module_count} * record_bytes; ++i)
        bytes[i] = static_cast<unsigned char>(i * 131 + 7);
}

// The block a plain read fills: released and obtained again each round, as
// the reader releases the old table and obtains the new one. It is given the
// plain read's best case, as the reader's table is: its address agrees with
// the file position read into it modulo 64, where the kernel's copy is
// fastest (see reserve_module_records).
struct FreshBlock {
    void* block = nullptr;
    unsigned char* renew(std::size_t bytes, std::size_t file_position) {
        std::free(block);
        block = std::malloc(bytes + 63);
        if (block == nullptr) fail("no memory");
        auto* start = static_cast<unsigned char*>(block);
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        return start + ((file_position - address) % 64);
    }
    ~FreshBlock() { std::free(block); }
};

struct Figure {
    std::string key;
    std::string label;
    std::function<void()> work;
    std::vector<double> ms;
    double median() const {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("korvex-workfile-bench-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    // Writes go to files of their own; every read reads one file written once
    // beforehand. How a file was written shapes its page cache (large runs
    // give larger blocks), so reads of files just rewritten in different
    // runs would not be comparable.
    const std::string library_file = (folder / "library.wrk").string();
    const std::string plain_file = (folder / "plain.wrk").string();
    const std::string read_file = (folder / "read.wrk").string();

    fill_module_table();
    const std::size_t table_bytes = std::size_t{module_count} * record_bytes;
    const std::size_t file_size = snap::work_file_size(0, module_count);
    // 64 bytes of slack let the file's first byte start a 64-byte line.
    std::vector<unsigned char> image_storage(file_size + 64, 0);
    const auto image_shift = static_cast<std::size_t>(
        (64 - reinterpret_cast<std::uintptr_t>(image_storage.data()) % 64) % 64);
    struct {
        unsigned char* bytes;
        std::size_t length;
        unsigned char* data() const { return bytes; }
        std::size_t size() const { return length; }
        unsigned char& operator[](std::size_t i) const { return bytes[i]; }
    } const image{image_storage.data() + image_shift, file_size};
    unsigned char count[snap::work_file_count_size];
    snap::encode_count(module_count, count);
    std::memcpy(&image[4], count, sizeof count);
    std::memcpy(&image[8], snap::module_table().records, table_bytes);
    FreshBlock plain_block;

    std::vector<Figure> figures;
    figures.push_back({"write.plain",
                       "plain fwrite, one call",
                       [&] {
                           std::FILE* stream = std::fopen(plain_file.c_str(), "wb");
                           if (stream == nullptr) fail("cannot write");
                           std::fwrite(image.data(), 1, image.size(), stream);
                           if (std::fclose(stream) != 0) fail("cannot close");
                       },
                       {}});
    figures.push_back({"read.plain",
                       "plain fread, one call",
                       [&] {
                           std::FILE* stream = std::fopen(read_file.c_str(), "rb");
                           if (stream == nullptr) fail("cannot read");
                           unsigned char* block = plain_block.renew(image.size(), 0);
                           if (std::fread(block, 1, image.size(), stream) != image.size())
                               fail("short read");
                           std::fclose(stream);
                       },
                       {}});
    for (const std::int32_t rows : {1, 1000}) {
        const std::string r = std::to_string(rows);
        const auto run_length = static_cast<std::size_t>(rows);
        figures.push_back({"write.plain_runs." + r,
                           "plain fwrite, runs of " + r,
                           [&, run_length] {
                               std::FILE* stream = std::fopen(plain_file.c_str(), "wb");
                               if (stream == nullptr) fail("cannot write");
                               std::fwrite(&image[0], 4, 1, stream);
                               std::fwrite(&image[4], 4, 1, stream);
                               for (std::size_t done = 0; done < module_count; done += run_length)
                                   std::fwrite(&image[8 + done * record_bytes], record_bytes,
                                               std::min(run_length, module_count - done), stream);
                               if (std::fclose(stream) != 0) fail("cannot close");
                           },
                           {}});
        figures.push_back(
            {"read.plain_runs." + r,
             "plain fread, runs of " + r,
             [&, run_length] {
                 std::FILE* stream = std::fopen(read_file.c_str(), "rb");
                 if (stream == nullptr) fail("cannot read");
                 unsigned char counts[8];
                 if (std::fread(counts, 4, 1, stream) != 1 ||
                     std::fread(counts + 4, 4, 1, stream) != 1)
                     fail("short read");
                 unsigned char* block = plain_block.renew(table_bytes, 8);
                 for (std::size_t done = 0; done < module_count; done += run_length) {
                     const std::size_t run = std::min(run_length, module_count - done);
                     if (std::fread(block + done * record_bytes, record_bytes, run, stream) != run)
                         fail("short read");
                 }
                 std::fclose(stream);
             },
             {}});
        figures.push_back({"write.korvex." + r,
                           "writer, rows-per-call " + r,
                           [&, rows] {
                               SetRowsPerCall(rows);
                               if (snap::write_work_file(library_file.c_str()) !=
                                   snap::work_file_written)
                                   fail("writer failed");
                           },
                           {}});
        figures.push_back({"read.korvex." + r,
                           "reader, rows-per-call " + r,
                           [&, rows] {
                               SetRowsPerCall(rows);
                               if (snap::read_work_file(read_file.c_str()) !=
                                   snap::work_file_loaded)
                                   fail("reader failed");
                               if (snap::module_table().count != module_count)
                                   fail("reader lost records");
                           },
                           {}});
    }

    // The file every read reads: the work file's bytes in one write.
    {
        std::FILE* stream = std::fopen(read_file.c_str(), "wb");
        if (stream == nullptr) fail("cannot write");
        std::fwrite(image.data(), 1, image.size(), stream);
        if (std::fclose(stream) != 0) fail("cannot close");
    }
    // All writes, then all reads, each phase in interleaved rounds after one
    // untimed round that warms the files and the page cache.
    for (const bool writes : {true, false}) {
        const auto in_phase = [&](const Figure& f) {
            return (f.key.rfind("write", 0) == 0) == writes;
        };
        for (Figure& f : figures)
            if (in_phase(f)) f.work();
        for (int round = 0; round < rounds; ++round) {
            for (Figure& f : figures) {
                if (!in_phase(f)) continue;
                // Each write makes a new file: rewriting one over its old
                // bytes would first have the file system flush those, and
                // the flush of one figure would land in the time of another.
                if (writes) {
                    std::remove(plain_file.c_str());
                    std::remove(library_file.c_str());
                }
                const auto start = Clock::now();
                f.work();
                f.ms.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        }
    }

    auto median_of = [&](const std::string& key) {
        for (const Figure& f : figures)
            if (f.key == key) return f.median();
        fail("unknown figure");
    };
    std::printf("work file of %d ModuleRecords (%zu bytes), median of %d interleaved rounds\n",
                module_count, file_size, rounds);
    std::printf("  %-28s %9s %12s %12s\n", "", "ms", "x one call", "x same runs");
    for (const Figure& f : figures) {
        const bool write = f.key.rfind("write", 0) == 0;
        const double one_call = median_of(write ? "write.plain" : "read.plain");
        std::printf("  %-28s %9.2f %12.2f", f.label.c_str(), f.median(), f.median() / one_call);
        const auto dot = f.key.rfind('.');
        if (f.key.find(".korvex.") != std::string::npos) {
            const std::string runs =
                (write ? "write.plain_runs" : "read.plain_runs") + f.key.substr(dot);
            std::printf(" %12.2f", f.median() / median_of(runs));
        }
        std::printf("\n");
    }
    for (const Figure& f : figures)
        std::printf("result workfile.%s %.3f\n", f.key.c_str(), f.median());

    snap::ClearSnapShotTables();
    std::filesystem::remove_all(folder);
    return 0;
}
