// The work file's two ways through the stream: writes and short read runs
// through the shared 1 MiB buffer, long read runs (where the platform prefers
// it) straight from the file into the table. Tables
// here are larger than the buffer, so both ways cross its boundary many
// times; the bytes on disk and the tables read back must not depend on the
// way taken.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "snapshot_fixture.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

// The least rows-per-call whose runs of ProcessRecords (the shorter record)
// are read straight from the file.
constexpr std::int32_t first_direct_rows =
    static_cast<std::int32_t>(snap::direct_run_bytes / sizeof(ProcessRecord));

class WorkFileStreamTest : public SnapshotTest {
protected:
    static void fill_tables(const Processes& processes, const Modules& modules) {
        snap::ClearSnapShotTables();
        for (const auto& record : processes) snap::AppendProcessRecord(record);
        for (const auto& record : modules) snap::AppendModuleRecord(record);
    }
    [[nodiscard]] std::string file(const char* name) const { return temp_.file(name); }
};

TEST_F(WorkFileStreamTest, TablesLargerThanTheBufferGiveTheSameBytesBufferedOrDirect) {
    // 2,000 x 296 + 3,000 x 332 bytes: half as much again as the buffer.
    const Processes processes = some_processes(2000);
    const Modules modules = some_modules(3000);
    const Bytes expected = work_file_bytes(processes, modules);
    ASSERT_GT(expected.size(), snap::work_file_stream_buffer_size);
    ASSERT_LT(first_direct_rows, 2000);

    const std::int32_t rows[] = {1,    7, first_direct_rows - 1, first_direct_rows,
                                 first_direct_rows + 1, 1000, 2999, INT32_MAX};
    for (std::int32_t write_rows : rows) {
        fill_tables(processes, modules);
        SetRowsPerCall(write_rows);
        const std::string path = file("large.wrk");
        ASSERT_EQ(snap::write_work_file(path.c_str()), snap::work_file_written) << write_rows;
        ASSERT_EQ(read_file(path), expected) << "written in runs of " << write_rows;
        for (std::int32_t read_rows : rows) {
            SetRowsPerCall(read_rows);
            ASSERT_EQ(snap::read_work_file(path.c_str()), snap::work_file_loaded)
                << write_rows << " / " << read_rows;
            EXPECT_TRUE(same_records(process_table_records(), processes)) << read_rows;
            EXPECT_TRUE(same_records(module_table_records(), modules)) << read_rows;
        }
    }
}

TEST_F(WorkFileStreamTest, AFileCutInsideALongRunIsRefusedEitherWay) {
    Bytes bytes = work_file_bytes(some_processes(10), some_modules(4000));
    bytes.resize(bytes.size() - 1);
    const std::string path = file("cut.wrk");
    write_bytes(path, bytes);
    for (std::int32_t rows : {1, first_direct_rows, 4000}) {
        fill_tables(some_processes(2), some_modules(2));
        SetRowsPerCall(rows);
        EXPECT_EQ(snap::read_work_file(path.c_str()), snap::work_file_rejected) << rows;
        EXPECT_EQ(snap::process_table().count, 0) << rows;
        EXPECT_EQ(snap::module_table().count, 0) << rows;
    }
}

TEST_F(WorkFileStreamTest, AWriteErrorIsReportedBufferedOrDirect) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a device that refuses writes (/dev/full)";
#else
    for (std::int32_t rows : {1, first_direct_rows, 5000}) {
        fill_tables(some_processes(3000), some_modules(3000));
        SetRowsPerCall(rows);
        EXPECT_EQ(snap::write_work_file("/dev/full"), snap::work_file_close_failed) << rows;
        // Small enough to sit in the buffer until the stream is closed.
        fill_tables(some_processes(1), {});
        EXPECT_EQ(snap::write_work_file("/dev/full"), snap::work_file_close_failed) << rows;
    }
#endif
}

}  // namespace
}  // namespace korvex::test
