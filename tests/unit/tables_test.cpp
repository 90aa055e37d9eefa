// ProcessTable and ModuleTable: growth and storage that fails; and tables
// reserved for records about to be read from a file, whose records are
// shifted inside their block and behave like any other table afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "snapshot/tables.h"
#include "snapshot_fixture.h"
#include "test_seams.h"

namespace {

using namespace korvex::snapshot;

ModuleRecord module_numbered(std::uint32_t n) {
    ModuleRecord record{};
    record.dwProcessID = n;
    std::memset(record.szPath, 'A' + static_cast<int>(n % 26), sizeof record.szPath - 1);
    return record;
}

ProcessRecord process_numbered(std::uint32_t n) {
    ProcessRecord record{};
    record.dwSize = 296;
    record.th32ProcessID = n * 4;
    std::memset(record.szExeFile, 'a' + static_cast<int>(n % 26), sizeof record.szExeFile - 1);
    return record;
}

struct GrowthStep {
    int appends;
    int capacity;
};

// Appends numbered records up to each step's count, checking the capacity
// reached, then every record in order.
template <typename Record>
void expect_growth(void (*append)(const Record&), const RecordTable<Record>& table,
                   Record (*numbered)(std::uint32_t), const std::vector<GrowthStep>& steps) {
    int appended = 0;
    for (const GrowthStep& step : steps) {
        while (appended < step.appends) append(numbered(static_cast<std::uint32_t>(appended++)));
        EXPECT_EQ(table.count, step.appends);
        EXPECT_EQ(table.capacity, step.capacity);
    }
    for (int i = 0; i < appended; ++i) {
        const Record expected = numbered(static_cast<std::uint32_t>(i));
        EXPECT_EQ(std::memcmp(&table.records[i], &expected, sizeof expected), 0) << i;
    }
}

class TablesTest : public testing::Test {
protected:
    void SetUp() override { ClearSnapShotTables(); }
    void TearDown() override {
        fail_storage_after(0);
        ClearSnapShotTables();
    }
};

TEST_F(TablesTest, BothTablesGrowByFortyAndKeepRecordsInOrder) {
    expect_growth(AppendModuleRecord, module_table(), module_numbered,
                  {{1, 40}, {40, 40}, {41, 80}, {80, 80}, {81, 120}});
    EXPECT_EQ(process_table().count, 0);  // the other table is not touched
    expect_growth(AppendProcessRecord, process_table(), process_numbered,
                  {{1, 40}, {40, 40}, {41, 80}, {81, 120}});
    EXPECT_EQ(module_table().count, 81);
}

TEST_F(TablesTest, RecordIsDroppedWhenGrowthFails) {
    // The first block failing leaves the table empty.
    fail_storage_after(1);
    AppendProcessRecord(ProcessRecord{});
    EXPECT_EQ(process_table().count, 0);
    EXPECT_EQ(process_table().records, nullptr);

    for (std::uint32_t i = 0; i < 40; ++i) AppendModuleRecord(module_numbered(i));
    fail_storage_after(1);
    AppendModuleRecord(module_numbered(40));
    EXPECT_EQ(module_table().count, 40);
    EXPECT_EQ(module_table().capacity, 40);
    // Storage is back: the next append grows and lands at index 40.
    AppendModuleRecord(module_numbered(41));
    ASSERT_EQ(module_table().count, 41);
    EXPECT_EQ(module_table().records[40].dwProcessID, 41u);
    EXPECT_EQ(module_table().records[39].dwProcessID, 39u);
}

TEST_F(TablesTest, ReserveGivesExactlyTheCount) {
    ASSERT_TRUE(reserve_module_records(7));
    EXPECT_EQ(module_table().count, 7);
    EXPECT_EQ(module_table().capacity, 7);
    ASSERT_TRUE(reserve_process_records(0));
    EXPECT_EQ(process_table().records, nullptr);
    EXPECT_FALSE(reserve_process_records(-1));
    fail_storage_after(1);
    EXPECT_FALSE(reserve_module_records(3));
    EXPECT_EQ(module_table().count, 0);
    EXPECT_EQ(module_table().records, nullptr);
}

}  // namespace

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

class TablePlacementTest : public SnapshotTest {};

// The records are shifted into their block to stand where their file
// position does modulo 64; AddressSanitizer checks that they stay inside
// it, and that emptying gives back the block, not the shifted records.
TEST_F(TablePlacementTest, ReservedRecordsLieInsideTheirBlockAtAnyFilePosition) {
    for (const std::uint64_t position : {0u, 4u, 8u, 60u, 64u, 300u, 8u + 296u * 3, 4100u}) {
        ASSERT_TRUE(snap::reserve_module_records(5, position)) << position;
        ASSERT_TRUE(snap::reserve_process_records(3, position)) << position;
        std::memset(snap::module_table().records, 0x5A, 5 * sizeof(ModuleRecord));
        std::memset(snap::process_table().records, 0x5A, 3 * sizeof(ProcessRecord));
        snap::ClearSnapShotTables();
    }
}

TEST_F(TablePlacementTest, APositionThatWouldMisalignTheFieldsIsNotFollowed) {
    ASSERT_TRUE(snap::reserve_module_records(2, 6));
    EXPECT_EQ(
        reinterpret_cast<std::uintptr_t>(snap::module_table().records) % alignof(ModuleRecord), 0u);
    std::memset(snap::module_table().records, 0, 2 * sizeof(ModuleRecord));
}

TEST_F(TablePlacementTest, APlacedTableGrowsLikeAnyOther) {
    ASSERT_TRUE(snap::reserve_module_records(40, 8));
    for (std::int32_t i = 0; i < 40; ++i)
        snap::module_table().records[i].dwProcessID = static_cast<std::uint32_t>(i);
    // Full: the next append moves the records into a block of 80.
    snap::AppendModuleRecord(module_record(99, "NEXT.DLL"));
    ASSERT_EQ(snap::module_table().count, 41);
    EXPECT_EQ(snap::module_table().capacity, 80);
    for (std::int32_t i = 0; i < 40; ++i)
        EXPECT_EQ(snap::module_table().records[i].dwProcessID, static_cast<std::uint32_t>(i));
    EXPECT_EQ(snap::module_table().records[40].dwProcessID, 99u);
}

}  // namespace
}  // namespace korvex::test
