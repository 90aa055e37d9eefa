// The work-file writer and reader on tables and files built here, and the
// stream's two ways: writes and short read runs through the shared 1 MiB
// buffer, long read runs (where the platform prefers it) straight from the
// file into the table. Tables larger than the buffer cross its boundary many
// times; the bytes on disk and the tables read back must not depend on the
// way taken.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "file_size_limit.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "snapshot_fixture.h"
#include "storage_count.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

// The least rows-per-call whose runs of ProcessRecords (the shorter record)
// are read straight from the file.
constexpr std::int32_t first_direct_rows =
    static_cast<std::int32_t>(snap::direct_run_bytes / sizeof(ProcessRecord));

class WorkFileTest : public SnapshotTest {
protected:
    static void fill_tables(const Processes& processes, const Modules& modules) {
        snap::ClearSnapShotTables();
        for (const auto& record : processes) snap::AppendProcessRecord(record);
        for (const auto& record : modules) snap::AppendModuleRecord(record);
    }
    static void expect_tables_empty() {
        EXPECT_EQ(snap::process_table().count, 0);
        EXPECT_EQ(snap::process_table().records, nullptr);
        EXPECT_EQ(snap::module_table().count, 0);
        EXPECT_EQ(snap::module_table().records, nullptr);
    }
    [[nodiscard]] std::string file(const char* name) const { return temp_.file(name); }
    // A work file of these bytes in the temporary folder.
    [[nodiscard]] std::string write_to(const Bytes& bytes) const {
        const std::string path = file("case.wrk");
        write_file(path, bytes);
        return path;
    }
};

TEST_F(WorkFileTest, EmptyTablesMakeEightZeroBytesThatReadBackEmpty) {
    const std::string path = file("empty.wrk");
    ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written);
    EXPECT_EQ(read_file(path), Bytes(8, 0));
    fill_tables(some_processes(3), some_modules(3));
    EXPECT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded);
    expect_tables_empty();
}

// Small tables, and tables larger than the buffer (2,000 x 296 + 3,000 x 332
// bytes: half as much again), written and read in runs of every length that
// changes the way taken.
TEST_F(WorkFileTest, RunLengthDoesNotChangeTheBytesWrittenOrRead) {
    ASSERT_EQ(work_file_bytes(some_processes(10), some_modules(13)).size(),
              8u + 296u * 10 + 332u * 13);
    ASSERT_GT(work_file_bytes(some_processes(2000), some_modules(3000)).size(),
              snap::work_file_stream_buffer_size);
    ASSERT_LT(first_direct_rows, 2000);
    const struct {
        int processes, modules;
        std::vector<std::int32_t> rows;
    } cases[] = {
        {10, 13, {1, 7, 50, 3, 10, 13, INT32_MAX}},
        {2000,
         3000,
         {1, 7, first_direct_rows - 1, first_direct_rows, first_direct_rows + 1, 1000, 2999,
          INT32_MAX}},
    };
    for (const auto& c : cases) {
        const Processes processes = some_processes(c.processes);
        const Modules modules = some_modules(c.modules);
        const Bytes expected = work_file_bytes(processes, modules);
        for (std::int32_t write_rows : c.rows) {
            fill_tables(processes, modules);
            SetRowsPerCall(write_rows);
            const std::string path = file("runs.wrk");
            ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written) << write_rows;
            ASSERT_EQ(read_file(path), expected) << "written in runs of " << write_rows;
            for (std::int32_t read_rows : c.rows) {
                SetRowsPerCall(read_rows);
                ASSERT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded)
                    << write_rows << " / " << read_rows;
                EXPECT_TRUE(same_records(process_table_records(), processes)) << read_rows;
                EXPECT_TRUE(same_records(module_table_records(), modules)) << read_rows;
                // A loaded table has a block of exactly its records.
                EXPECT_EQ(snap::process_table().capacity, c.processes);
                EXPECT_EQ(snap::module_table().capacity, c.modules);
            }
        }
    }
}

TEST_F(WorkFileTest, RoundTripKeepsEveryByteOfEveryRecord) {
    Processes processes = some_processes(41);  // more than one growth step
    Modules modules = some_modules(81);
    // Bytes after the texts' terminators and the last byte of a ModuleRecord
    // have no meaning, but they are stored as they are.
    modules[5].reserved = 'Z';
    processes[7].szExeFile[259] = '\x7F';
    fill_tables(processes, modules);
    const std::string path = file("round.wrk");
    ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written);
    snap::ClearSnapShotTables();
    ASSERT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded);
    EXPECT_TRUE(same_records(process_table_records(), processes));
    EXPECT_TRUE(same_records(module_table_records(), modules));
}

// Every file here is refused with both tables empty, whatever they held. A
// count beyond the file is refused before any storage is obtained; only a
// fault found once the process records are placed comes after storage.
struct BadFile {
    const char* what;
    Bytes bytes;
    bool after_storage = false;
};

Bytes cut(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

Bytes with_count(Bytes bytes, std::size_t offset, std::uint32_t count) {
    put32(bytes, offset, count);
    return bytes;
}

// Read in runs short and long: buffered or straight from the file.
TEST_F(WorkFileTest, ShortFilesAndBadCountsAreRefusedWithBothTablesEmpty) {
    const Bytes good = work_file_bytes(some_processes(3), some_modules(4));
    const std::size_t module_count_at = 4 + 3 * 296;
    const std::size_t modules_at = module_count_at + 4;
    const Bytes long_run = work_file_bytes(some_processes(10), some_modules(4000));
    const BadFile cases[] = {
        {"no bytes", {}},
        {"one byte", cut(good, 1)},
        {"three bytes", cut(good, 3)},
        {"count only", cut(good, 4)},
        {"inside the first ProcessRecord", cut(good, 5)},
        {"inside the last ProcessRecord", cut(good, module_count_at - 1)},
        {"no module count", cut(good, module_count_at)},
        {"inside the module count", cut(good, module_count_at + 2)},
        {"module count, no records", cut(good, modules_at), true},
        {"inside the first ModuleRecord", cut(good, modules_at + 100), true},
        {"one byte short", cut(good, good.size() - 1), true},
        {"process count -1", with_count(good, 0, 0xFFFFFFFFu)},
        {"process count most negative", with_count(good, 0, 0x80000000u)},
        {"module count -1", with_count(good, module_count_at, 0xFFFFFFFFu), true},
        {"process count one too many", with_count(good, 0, 4), true},
        {"module count one too many", with_count(good, module_count_at, 5), true},
        {"process count 0x7FFFFFFF", with_count(good, 0, 0x7FFFFFFFu)},
        {"module count 0x7FFFFFFF", with_count(good, module_count_at, 0x7FFFFFFFu), true},
        {"4-byte file claiming 0x7FFFFFFF", with_count({}, 0, 0x7FFFFFFFu)},
        // 0x00DD67C9 records of 296 bytes is 4 GiB + 4 bytes: a length that a
        // 32-bit multiplication would wrap to a small number.
        {"count whose size wraps 32 bits", with_count(good, 0, 0x00DD67C9u)},
        {"no module count after 2 processes",
         cut(work_file_bytes(some_processes(2), {}), 4 + 2 * 296)},
        {"0x7FFFFFFF modules, no processes", with_count(work_file_bytes({}, {}), 4, 0x7FFFFFFFu)},
        {"one module too many, no processes",
         with_count(work_file_bytes({}, some_modules(2)), 4, 3)},
        {"cut inside a long run", cut(long_run, long_run.size() - 1), true},
    };
    for (const auto& c : cases) {
        for (std::int32_t rows : {1, 2, 1000, first_direct_rows, 4000}) {
            SetRowsPerCall(rows);
            fill_tables(some_processes(5), some_modules(5));
            const std::string path = write_to(c.bytes);
            const long allocations = storage_allocations_of([&] {
                EXPECT_EQ(snap::read_work_file(path.c_str()), snap::work_file_rejected)
                    << c.what << ", rows " << rows;
            });
            if (!c.after_storage) {
                EXPECT_EQ(allocations, 0) << c.what;
            }
            expect_tables_empty();
        }
    }
}

// Bytes after the last ModuleRecord are ignored; no processes but modules is
// a valid file.
TEST_F(WorkFileTest, FilesWithTrailingBytesOrNoProcessesLoad) {
    for (const int processes : {2, 0}) {
        const Modules modules = some_modules(processes > 0 ? 3 : 6);
        Bytes bytes = work_file_bytes(some_processes(processes), modules);
        if (processes > 0) bytes.insert(bytes.end(), 1000, 0xEE);
        ASSERT_EQ(snap::read_work_file(write_to(bytes).c_str()), snap::work_file_loaded)
            << processes;
        EXPECT_TRUE(same_records(process_table_records(), some_processes(processes)));
        EXPECT_EQ(snap::process_table().records == nullptr, processes == 0);
        EXPECT_TRUE(same_records(module_table_records(), modules));
    }
}

TEST_F(WorkFileTest, WriterReplacesALongerFileCompletely) {
    const std::string path = write_to(Bytes(100'000, 0xAB));
    fill_tables(some_processes(2), some_modules(1));
    ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written);
    EXPECT_EQ(read_file(path), work_file_bytes(some_processes(2), some_modules(1)));
}

TEST_F(WorkFileTest, WriterWithoutAStreamAnswersMinusTwoAndCreatesNothing) {
    const std::string path = temp_.file("missing-folder") + "/x.wrk";
    fill_tables(some_processes(2), some_modules(2));
    EXPECT_EQ(snap::write_work_file(path.c_str()), snap::work_file_not_created);
    EXPECT_FALSE(file_exists(path));
    // The tables are the writer's input only.
    EXPECT_TRUE(same_records(process_table_records(), some_processes(2)));
    EXPECT_TRUE(same_records(module_table_records(), some_modules(2)));
}

TEST_F(WorkFileTest, ReaderOfAMissingFileEmptiesTheTables) {
    fill_tables(some_processes(4), some_modules(4));
    EXPECT_EQ(snap::read_work_file(file("absent.wrk").c_str()), snap::work_file_rejected);
    expect_tables_empty();
    EXPECT_EQ(snap::read_work_file(temp_.path().string().c_str()), snap::work_file_rejected)
        << "a folder is not a work file";
    expect_tables_empty();
}

TEST_F(WorkFileTest, ReaderWithoutStorageRefusesTheFileWithBothTablesEmpty) {
    const std::string path = write_to(work_file_bytes(some_processes(2), some_modules(2)));
    for (long failing = 1; failing <= 2; ++failing) {
        fill_tables(some_processes(1), some_modules(1));
        snap::fail_storage_after(failing);
        EXPECT_EQ(snap::read_work_file(path.c_str()), snap::work_file_rejected) << failing;
        expect_tables_empty();
    }
    snap::fail_storage_after(0);
    EXPECT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded);
}

// The pages go on from where they stood, with the filter in force.
TEST_F(WorkFileTest, NeitherTheWriterNorTheReaderMovesTheCursors) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("cursors"), 0);
    SelectProcess(1);
    ProcessRecord process;
    ModuleRecord module;
    ASSERT_EQ(ReadSnapShotProcesses(&process), 1);
    ASSERT_EQ(ReadSnapShotModules(&module), 1);
    const std::string path = file("cursors.wrk");
    ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written);
    ASSERT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded);
    EXPECT_TRUE(reads_out(Processes{some_processes(3)[1], some_processes(3)[2]}));
    EXPECT_EQ(read_all_modules(0).results, (Results{0, 100})) << "modules of process 1 only";
}

// A failed write answers -3: at the close (tables small enough to sit in the
// buffer until then), or long before it with many buffers flushed, buffered
// or direct.
TEST_F(WorkFileTest, AWriteErrorIsReportedBufferedOrDirect) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a file-size limit (setrlimit)";
#else
    const std::string path = file("limited.wrk");
    const rlim_t was = limit_file_size(0);
    for (std::int32_t rows : {1, first_direct_rows, 5000}) {
        SetRowsPerCall(rows);
        for (const int count : {1, 1000, 3000}) {
            fill_tables(some_processes(count), some_modules(count == 1 ? 0 : count));
            EXPECT_EQ(snap::write_work_file(path.c_str()), snap::work_file_close_failed)
                << rows << " / " << count;
        }
    }
    limit_file_size(was);
#endif
}

}  // namespace
}  // namespace korvex::test
