// The paged readout: page lengths, the end code, the process filter and the
// cursors, on snapshots taken with a fake capture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "snapshot_fixture.h"

namespace korvex::test {
namespace {

class ReadoutTest : public SnapshotTest {
protected:
    void take(const Processes& processes, const Modules& modules) {
        capture_next(processes, modules);
        ASSERT_EQ(TakeSnapShot("readout"), 0);
    }
};

// Modules of process `id` at the given table positions, others elsewhere.
Modules modules_of_at(std::uint32_t id, std::size_t total, std::vector<std::size_t> positions) {
    Modules modules = some_modules(static_cast<int>(total), 1000);
    for (std::size_t at : positions) modules[at].dwProcessID = id;
    return modules;
}

TEST_F(ReadoutTest, WithoutACurrentSnapshotBothReadsAnswerMinusOne) {
    EXPECT_EQ(read_all_processes(0).results, Results{-1});
    EXPECT_EQ(read_all_modules(0).results, Results{-1});
    char path[KORVEX_WORKFILE_PATH_SIZE] = "registered";
    ASSERT_EQ(NewSnapShotWorkFile(path), 0);
    EXPECT_EQ(read_all_processes(0).results, Results{-1}) << "registering does not make current";
}

TEST_F(ReadoutTest, ProcessPagesFollowTheRowsPerCallSetting) {
    const struct {
        int records;
        std::int32_t rows;
        Results results;
    } cases[] = {
        {10, 4, {4, 4, 2, 100}},
        {10, 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 100}},
        {10, 10, {10, 100}},
        {10, 11, {10, 100}},
        {0, 1, {100}},
        {0, 50, {100}},
        {3, INT32_MAX, {3, 100}},
        // A full page of exactly 100 records and the end are both 100.
        {100, 100, {100, 100}},
        {100, 150, {100, 100}},
        {150, 100, {100, 50, 100}},
    };
    for (const auto& c : cases) {
        take(some_processes(c.records), {});
        SetRowsPerCall(c.rows);
        const ReadOut out = read_all_processes(static_cast<std::size_t>(c.records));
        EXPECT_EQ(out.results, c.results) << c.records << " records, rows " << c.rows;
        EXPECT_TRUE(same_records(out.processes, some_processes(c.records))) << c.records;
    }
}

TEST_F(ReadoutTest, RowsBelowOneCountAsOne) {
    for (std::int32_t rows : {0, -1, -100, INT32_MIN}) {
        SetRowsPerCall(rows);
        take(some_processes(3), some_modules(2));
        EXPECT_EQ(read_all_processes(3).results, (Results{1, 1, 1, 100})) << rows;
        EXPECT_EQ(read_all_modules(2).results, (Results{1, 1, 100})) << rows;
    }
}

// A read writes whole records from the buffer's start and not one byte more
// than the records it reports.
TEST_F(ReadoutTest, ReadsWriteOnlyTheRecordsTheyReport) {
    take(some_processes(5), modules_of_at(9, 8, {1, 6}));
    SetRowsPerCall(3);
    const ModuleRecord untouched = module_record(0xEEEEEEEE, "UNTOUCHED");
    std::vector<ModuleRecord> buffer(4, untouched);
    SelectProcess(9);
    ASSERT_EQ(ReadSnapShotModules(buffer.data()), 2);
    EXPECT_EQ(buffer[0].dwProcessID, 9u);
    EXPECT_EQ(buffer[1].dwProcessID, 9u);
    for (std::size_t i = 2; i < buffer.size(); ++i)
        EXPECT_EQ(std::memcmp(&buffer[i], &untouched, sizeof untouched), 0) << i;

    const ProcessRecord spare = process_record(0xEEEEEEEE, "SPARE.EXE");
    std::vector<ProcessRecord> processes(4, spare);
    ASSERT_EQ(ReadSnapShotProcesses(processes.data()), 3);
    ASSERT_EQ(ReadSnapShotProcesses(processes.data()), 2);
    EXPECT_EQ(std::memcmp(&processes[2], &some_processes(5)[2], sizeof spare), 0)
        << "the first page's last record stays where the second page did not write";
    EXPECT_EQ(std::memcmp(&processes[3], &spare, sizeof spare), 0);
}

TEST_F(ReadoutTest, FilteredPagesScanUntilFullOrAtTheEnd) {
    const struct {
        const char* what;
        Modules modules;
        std::int32_t rows;
        std::uint32_t filter;
        Results results;
    } cases[] = {
        {"five spread", modules_of_at(7, 20, {0, 4, 9, 15, 19}), 2, 7, {2, 2, 1, 100}},
        {"four, then others", modules_of_at(7, 10, {0, 1, 2, 3}), 2, 7, {2, 2, 0, 100}},
        {"none match", modules_of_at(7, 6, {}), 3, 7, {0, 100}},
        {"all match", modules_of_at(7, 4, {0, 1, 2, 3}), 3, 7, {3, 1, 100}},
        {"last only", modules_of_at(7, 5, {4}), 10, 7, {1, 100}},
        {"empty table", {}, 2, 7, {100}},
        {"high id", modules_of_at(0xFFFFFFFFu, 3, {1}), 1, 0xFFFFFFFFu, {1, 0, 100}},
        // Filter 0 hands out every module in table order, one of process 0 too.
        {"filter 0", modules_of_at(0, 9, {2}), 4, 0, {4, 4, 1, 100}},
    };
    for (const auto& c : cases) {
        take({}, c.modules);
        SetRowsPerCall(c.rows);
        EXPECT_EQ(SelectProcess(c.filter), static_cast<std::int32_t>(c.filter));
        Modules expected;
        for (const auto& record : c.modules)
            if (c.filter == 0 || record.dwProcessID == c.filter) expected.push_back(record);
        const ReadOut out = read_all_modules(expected.size());
        EXPECT_EQ(out.results, c.results) << c.what;
        EXPECT_TRUE(same_records(out.modules, expected)) << c.what;
    }
}

TEST_F(ReadoutTest, ChangingTheFilterMidwayContinuesFromTheModuleCursor) {
    Modules modules = some_modules(8, 1);
    for (std::size_t i = 0; i < modules.size(); ++i) modules[i].dwProcessID = i < 4 ? 1 : 2;
    modules[5].dwProcessID = 1;  // 1 1 1 1 2 1 2 2
    take({}, modules);
    SetRowsPerCall(2);
    std::vector<ModuleRecord> page(2);
    SelectProcess(1);
    ASSERT_EQ(ReadSnapShotModules(page.data()), 2);  // indices 0, 1
    SelectProcess(2);
    ASSERT_EQ(ReadSnapShotModules(page.data()), 2);  // indices 4, 6
    EXPECT_EQ(std::memcmp(&page[0], &modules[4], sizeof page[0]), 0);
    EXPECT_EQ(std::memcmp(&page[1], &modules[6], sizeof page[0]), 0);
    SelectProcess(0);
    ASSERT_EQ(ReadSnapShotModules(page.data()), 1);
    EXPECT_EQ(std::memcmp(&page[0], &modules[7], sizeof page[0]), 0);
    EXPECT_EQ(ReadSnapShotModules(page.data()), 100);
}

TEST_F(ReadoutTest, TheFilterPlaysNoPartInProcessPages) {
    take(some_processes(7), some_modules(3));
    SetRowsPerCall(3);
    const ReadOut unfiltered = read_all_processes(7);
    for (std::uint32_t filter : {1u, 2u, 99u}) {
        ASSERT_EQ(SelectSnapShot("readout"), 0);
        SelectProcess(filter);
        const ReadOut filtered = read_all_processes(7);
        EXPECT_EQ(filtered.results, unfiltered.results) << filter;
        EXPECT_TRUE(same_records(filtered.processes, unfiltered.processes)) << filter;
    }
}

TEST_F(ReadoutTest, ProcessAndModuleReadsKeepSeparateCursors) {
    take(some_processes(3), some_modules(3));
    SetRowsPerCall(2);
    ProcessRecord processes[2];
    ModuleRecord modules[2];
    EXPECT_EQ(ReadSnapShotProcesses(processes), 2);
    EXPECT_EQ(ReadSnapShotModules(modules), 2);
    EXPECT_EQ(ReadSnapShotProcesses(processes), 1);
    EXPECT_EQ(ReadSnapShotProcesses(processes), 100);
    EXPECT_EQ(ReadSnapShotModules(modules), 1);
    EXPECT_EQ(std::memcmp(&modules[0], &some_modules(3)[2], sizeof modules[0]), 0);
}

TEST_F(ReadoutTest, ANewRowsSettingTakesEffectAtTheNextCall) {
    take(some_processes(10), {});
    SetRowsPerCall(4);
    std::vector<ProcessRecord> buffer(10);
    EXPECT_EQ(ReadSnapShotProcesses(buffer.data()), 4);
    SetRowsPerCall(1);
    EXPECT_EQ(ReadSnapShotProcesses(buffer.data()), 1);
    SetRowsPerCall(100);
    EXPECT_EQ(ReadSnapShotProcesses(buffer.data()), 5);
    EXPECT_EQ(std::memcmp(&buffer[0], &some_processes(10)[5], sizeof buffer[0]), 0);
}

TEST_F(ReadoutTest, SelectingTheCurrentSnapshotRewindsBothReadsAndClearsTheFilter) {
    const Modules modules = modules_of_at(5, 6, {1, 3});
    take(some_processes(4), modules);
    SetRowsPerCall(3);
    SelectProcess(5);
    std::vector<ProcessRecord> processes(3);
    std::vector<ModuleRecord> page(3);
    ASSERT_EQ(ReadSnapShotProcesses(processes.data()), 3);
    ASSERT_EQ(ReadSnapShotModules(page.data()), 2);

    ASSERT_EQ(SelectSnapShot("readout"), 0);
    EXPECT_TRUE(reads_out(some_processes(4)));
    EXPECT_TRUE(reads_out(modules)) << "the filter is cleared";
}

TEST_F(ReadoutTest, AFilterChosenBeforeASnapshotBecomesCurrentDoesNotSurvive) {
    const Modules modules = modules_of_at(5, 4, {2});
    SelectProcess(5);
    take({}, modules);
    EXPECT_TRUE(reads_out(modules)) << "after TakeSnapShot";

    capture_next({}, modules);
    ASSERT_EQ(TakeSnapShot("other"), 0);
    SelectProcess(5);
    ASSERT_EQ(SelectSnapShot("readout"), 0);
    EXPECT_TRUE(reads_out(modules)) << "after SelectSnapShot";
}

TEST_F(ReadoutTest, SelectProcessAnswersTheIdItWasGiven) {
    const struct {
        std::uint32_t id;
        std::int32_t answer;
    } cases[] = {
        {0, 0}, {1, 1}, {0x7FFFFFFF, 0x7FFFFFFF}, {0x80000000u, INT32_MIN}, {0xFFFFFFFFu, -1}};
    for (const auto& c : cases) EXPECT_EQ(SelectProcess(c.id), c.answer) << c.id;
}

}  // namespace
}  // namespace korvex::test
