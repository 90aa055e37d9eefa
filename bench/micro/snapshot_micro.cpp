// Micro-benchmarks of the snapshot side: the paged readout of 100,000
// records and the work file's runs. Counters per page come from the call
// counts of the library's own code (call_counts.h): an unfiltered page must
// cost no allocation and exactly one block copy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "call_counts.h"
#include "korvex32.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "test_seams.h"

namespace {

namespace snap = korvex::snapshot;

constexpr std::int32_t paged_records = 100'000;
constexpr std::int32_t file_records = 10'000;
// Records of process 1 in every `filter_spacing` of the ModuleTable.
constexpr std::int32_t filter_spacing = 10;

std::int32_t g_capture_records = 0;

// Stands in for the capture inside TakeSnapShot: one block of records,
// without the growth steps a real capture goes through.
void capture_chosen_records() {
    if (!snap::reserve_module_records(g_capture_records) ||
        !snap::reserve_process_records(g_capture_records)) {
        std::fprintf(stderr, "snapshot_micro: no storage\n");
        std::exit(1);
    }
    for (std::int32_t i = 0; i < g_capture_records; ++i) {
        ModuleRecord& module = snap::module_table().records[i];
        std::memset(&module, 'm', sizeof module);
        module.dwProcessID = i % filter_spacing == 0 ? 1u : 2u;
        ProcessRecord& process = snap::process_table().records[i];
        std::memset(&process, 'p', sizeof process);
        process.dwSize = sizeof process;
    }
}

const std::string& work_directory() {
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "korvex-micro-bench";
        std::filesystem::create_directories(path);
        return path.string();
    }();
    return folder;
}

// A current snapshot of `records` processes and modules.
void take_snapshot_of(std::int32_t records) {
    g_capture_records = records;
    snap::set_capture_for_tests(capture_chosen_records);
    InitSnapShots(work_directory().c_str());
    TakeSnapShot("micro");
    snap::set_capture_for_tests(nullptr);
}

void report_per_page(benchmark::State& state, const korvex::micro::CallCounts& before,
                     std::int64_t pages, std::size_t record_bytes) {
    const korvex::micro::CallCounts after = korvex::micro::call_counts();
    const auto per_page = [&](std::uint64_t n) {
        return benchmark::Counter(static_cast<double>(n) / static_cast<double>(pages));
    };
    state.counters["allocations/page"] = per_page(after.allocations - before.allocations);
    state.counters["block_copies/page"] = per_page(after.block_copies - before.block_copies);
    state.counters["pages"] =
        benchmark::Counter(static_cast<double>(pages) / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(state.iterations() * std::int64_t{paged_records} *
                            static_cast<std::int64_t>(record_bytes));
}

// Every record of a 100,000-record snapshot handed out by `read`, a page of
// rows-per-call (the benchmark's argument) at a time, with the process
// filter set to `process_id` (0: all).
template <typename Record>
void read_every_page(benchmark::State& state, std::int32_t (*read)(Record*),
                     std::int32_t snap::ReadoutState::*cursor, std::uint32_t process_id) {
    take_snapshot_of(paged_records);
    const auto rows = static_cast<std::int32_t>(state.range(0));
    SetRowsPerCall(rows);
    std::vector<Record> page(static_cast<std::size_t>(rows));
    std::int64_t pages = 0;
    const korvex::micro::CallCounts before = korvex::micro::call_counts();
    for (auto _ : state) {
        snap::rewind_readout();
        SelectProcess(process_id);
        while (snap::readout_state().*cursor < paged_records) {
            read(page.data());
            ++pages;
        }
        benchmark::DoNotOptimize(page.data());
    }
    report_per_page(state, before, pages, sizeof(Record));
}

void BM_ReadModulePages(benchmark::State& state) {
    read_every_page(state, ReadSnapShotModules, &snap::ReadoutState::module_cursor, 0);
}
BENCHMARK(BM_ReadModulePages)->Arg(1)->Arg(100)->Arg(1000);

void BM_ReadProcessPages(benchmark::State& state) {
    read_every_page(state, ReadSnapShotProcesses, &snap::ReadoutState::process_cursor, 0);
}
BENCHMARK(BM_ReadProcessPages)->Arg(1)->Arg(100)->Arg(1000);

// One process's modules: every page is built a record at a time.
void BM_ReadFilteredModulePages(benchmark::State& state) {
    read_every_page(state, ReadSnapShotModules, &snap::ReadoutState::module_cursor, 1);
}
BENCHMARK(BM_ReadFilteredModulePages)->Arg(1)->Arg(100)->Arg(1000);

// The floor of an unfiltered page: one memcpy of the same bytes.
void BM_CopyPagesFloor(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    std::vector<ModuleRecord> table(paged_records);
    std::vector<ModuleRecord> page(rows);
    for (auto _ : state) {
        for (std::size_t at = 0; at < table.size(); at += rows) {
            const std::size_t n = std::min(rows, table.size() - at);
            std::memcpy(page.data(), &table[at], n * sizeof(ModuleRecord));
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{paged_records} *
                            static_cast<std::int64_t>(sizeof(ModuleRecord)));
}
BENCHMARK(BM_CopyPagesFloor)->Arg(1)->Arg(100)->Arg(1000);

std::string work_file_path() { return work_directory() + "/runs.wrk"; }

void BM_WriteWorkFile(benchmark::State& state) {
    take_snapshot_of(file_records);
    SetRowsPerCall(static_cast<std::int32_t>(state.range(0)));
    const std::string path = work_file_path();
    for (auto _ : state) {
        if (snap::write_work_file(path.c_str()) != snap::work_file_written)
            state.SkipWithError("write");
    }
    state.SetBytesProcessed(
        state.iterations() * std::int64_t{file_records} *
        static_cast<std::int64_t>(sizeof(ModuleRecord) + sizeof(ProcessRecord)));
}
BENCHMARK(BM_WriteWorkFile)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_ReadWorkFile(benchmark::State& state) {
    take_snapshot_of(file_records);
    const std::string path = work_file_path();
    SetRowsPerCall(1);
    snap::write_work_file(path.c_str());
    SetRowsPerCall(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        if (snap::read_work_file(path.c_str()) != snap::work_file_loaded)
            state.SkipWithError("read");
    }
    state.SetBytesProcessed(
        state.iterations() * std::int64_t{file_records} *
        static_cast<std::int64_t>(sizeof(ModuleRecord) + sizeof(ProcessRecord)));
}
BENCHMARK(BM_ReadWorkFile)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The same bytes in one plain stream call each way, for comparison.
void BM_PlainWriteAndRead(benchmark::State& state) {
    const std::size_t bytes =
        8 + std::size_t{file_records} * (sizeof(ModuleRecord) + sizeof(ProcessRecord));
    std::vector<char> image(bytes, 'x');
    const std::string path = work_directory() + "/plain.wrk";
    const bool reading = state.range(0) == 1;
    if (reading) {
        std::FILE* stream = std::fopen(path.c_str(), "wb");
        std::fwrite(image.data(), 1, bytes, stream);
        std::fclose(stream);
    }
    for (auto _ : state) {
        std::FILE* stream = std::fopen(path.c_str(), reading ? "rb" : "wb");
        if (reading) {
            void* block = std::malloc(bytes);
            benchmark::DoNotOptimize(std::fread(block, 1, bytes, stream));
            std::free(block);
        } else {
            std::fwrite(image.data(), 1, bytes, stream);
        }
        std::fclose(stream);
    }
    state.SetLabel(reading ? "fread, one call" : "fwrite, one call");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_PlainWriteAndRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
