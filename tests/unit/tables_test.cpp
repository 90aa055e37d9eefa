// ProcessTable and ModuleTable: growth, emptying, and storage that fails.
#include <gtest/gtest.h>

#include <cstring>

#include "test_seams.h"
#include "snapshot/tables.h"

namespace {

using namespace korvex::snapshot;

ModuleRecord module_numbered(std::uint32_t n) {
    ModuleRecord record{};
    record.dwProcessID = n;
    std::memset(record.szPath, 'A' + static_cast<int>(n % 26), sizeof record.szPath - 1);
    return record;
}

class TablesTest : public testing::Test {
protected:
    void SetUp() override { ClearSnapShotTables(); }
    void TearDown() override {
        fail_storage_after(0);
        ClearSnapShotTables();
    }
};

TEST_F(TablesTest, GrowsByFortyAndKeepsRecordsInOrder) {
    const struct {
        int appends;
        int capacity;
    } steps[] = {{1, 40}, {40, 40}, {41, 80}, {80, 80}, {81, 120}};
    int appended = 0;
    for (const auto& step : steps) {
        while (appended < step.appends) AppendModuleRecord(module_numbered(static_cast<std::uint32_t>(appended++)));
        EXPECT_EQ(module_table().count, step.appends);
        EXPECT_EQ(module_table().capacity, step.capacity);
    }
    for (int i = 0; i < appended; ++i) {
        const ModuleRecord expected = module_numbered(static_cast<std::uint32_t>(i));
        EXPECT_EQ(std::memcmp(&module_table().records[i], &expected, sizeof expected), 0) << i;
    }
}

TEST_F(TablesTest, ProcessTableGrowsByFortyAndKeepsRecordsInOrder) {
    auto process_numbered = [](std::uint32_t n) {
        ProcessRecord record{};
        record.dwSize = 296;
        record.th32ProcessID = n * 4;
        std::memset(record.szExeFile, 'a' + static_cast<int>(n % 26), sizeof record.szExeFile - 1);
        return record;
    };
    const struct {
        int appends;
        int capacity;
    } steps[] = {{1, 40}, {40, 40}, {41, 80}, {81, 120}};
    int appended = 0;
    for (const auto& step : steps) {
        while (appended < step.appends)
            AppendProcessRecord(process_numbered(static_cast<std::uint32_t>(appended++)));
        EXPECT_EQ(process_table().count, step.appends);
        EXPECT_EQ(process_table().capacity, step.capacity);
    }
    for (int i = 0; i < appended; ++i) {
        const ProcessRecord expected = process_numbered(static_cast<std::uint32_t>(i));
        EXPECT_EQ(std::memcmp(&process_table().records[i], &expected, sizeof expected), 0) << i;
    }
    EXPECT_EQ(module_table().count, 0);  // the other table is not touched
}

TEST_F(TablesTest, ProcessRecordKeepsEveryByte) {
    ProcessRecord record;
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    for (std::size_t i = 0; i < sizeof record; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    record.dwSize = 296;
    AppendProcessRecord(record);
    ASSERT_EQ(process_table().count, 1);
    EXPECT_EQ(std::memcmp(&process_table().records[0], &record, sizeof record), 0);
}

TEST_F(TablesTest, EmptyingEmptiesBothAndIsHarmlessTwice) {
    AppendProcessRecord(ProcessRecord{});
    AppendModuleRecord(ModuleRecord{});
    ClearSnapShotTables();
    ClearSnapShotTables();
    EXPECT_EQ(process_table().records, nullptr);
    EXPECT_EQ(process_table().count, 0);
    EXPECT_EQ(process_table().capacity, 0);
    EXPECT_EQ(module_table().records, nullptr);
    EXPECT_EQ(module_table().count, 0);
    EXPECT_EQ(module_table().capacity, 0);
}

TEST_F(TablesTest, RecordIsDroppedWhenGrowthFails) {
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

TEST_F(TablesTest, FirstBlockFailingLeavesTheTableEmpty) {
    fail_storage_after(1);
    AppendProcessRecord(ProcessRecord{});
    EXPECT_EQ(process_table().count, 0);
    EXPECT_EQ(process_table().records, nullptr);
}

TEST_F(TablesTest, ReserveGivesExactlyTheCount) {
    ASSERT_TRUE(ReserveModuleRecords(7));
    EXPECT_EQ(module_table().count, 7);
    EXPECT_EQ(module_table().capacity, 7);
    ASSERT_TRUE(ReserveProcessRecords(0));
    EXPECT_EQ(process_table().records, nullptr);
    EXPECT_FALSE(ReserveProcessRecords(-1));
    fail_storage_after(1);
    EXPECT_FALSE(ReserveModuleRecords(3));
    EXPECT_EQ(module_table().count, 0);
    EXPECT_EQ(module_table().records, nullptr);
}

}  // namespace
