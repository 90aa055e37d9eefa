// The n-th allocation failing, for every n that a real capture, a reload
// and a registry sequence reach. Whatever fails, nothing crashes, the tables
// and the list stay consistent, nothing stays allocated once the registry is
// dropped, and the call that met the failure answers as documented: a take
// whose entry cannot be had answers -2 and registers nothing; a record whose
// block cannot be grown is dropped (one record, no more); a file facts cache
// that cannot grow changes no record; a reload answers -2 with empty tables;
// a new work file gets an empty path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_process_source.h"
#include "resource_probe.h"
#include "snapshot/capture.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot_fixture.h"
#include "storage_count.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

template <typename Record>
::testing::AssertionResult consistent(const snap::RecordTable<Record>& table) {
    if (table.count < 0 || table.count > table.capacity)
        return ::testing::AssertionFailure()
               << "count " << table.count << " capacity " << table.capacity;
    if ((table.capacity == 0) != (table.records == nullptr))
        return ::testing::AssertionFailure()
               << "capacity " << table.capacity << " without a block, or the reverse";
    return ::testing::AssertionSuccess();
}

// The registry's list with its links both ways and the current entry in it;
// `entries` is how many it holds.
::testing::AssertionResult list_whole(std::size_t& entries) {
    const snap::Registry& registry = snap::registry();
    const snap::SnapshotEntry* previous = nullptr;
    bool current_found = registry.current == nullptr;
    entries = 0;
    for (const snap::SnapshotEntry* e = registry.list.head; e != nullptr;
         previous = e, e = e->next, ++entries) {
        if (e->previous != previous) return ::testing::AssertionFailure() << "broken previous link";
        current_found = current_found || e == registry.current;
    }
    if (registry.list.tail != previous)
        return ::testing::AssertionFailure() << "tail is not the last entry";
    if (!current_found) return ::testing::AssertionFailure() << "current entry not in the list";
    return ::testing::AssertionSuccess();
}

// ---- The real capture ---------------------------------------------------------------

class CaptureStorageFaultTest : public SnapshotTest {
protected:
    FakeProcessSource fake;
    void SetUp() override {
        SnapshotTest::SetUp();
        // 45 processes (two process blocks) with 3 modules each (four module
        // blocks), over 100 distinct files (the file facts cache grows twice).
        for (std::uint32_t p = 0; p < 45; ++p) {
            FakeProcess& process =
                fake.add_process(4 * (p + 1), "C:\\P\\" + std::to_string(p % 7) + ".EXE");
            for (std::uint32_t m = 0; m < 3; ++m) {
                const std::string file = "C:\\LIB\\F" + std::to_string((p * 3 + m) % 100) + ".DLL";
                process.add_module("F.DLL", file);
                fake.add_file(file).with_version(0x00010002, 0x00030004 + m);
            }
        }
        os::set_process_source(&fake);
    }
    void TearDown() override {
        os::set_process_source(nullptr);
        SnapshotTest::TearDown();
    }
};

// Each round starts with the C heap as the first left it: the blocks of the
// tables are released, and the cache is released by the capture itself.
TEST_F(CaptureStorageFaultTest, EveryAllocationOfACaptureFailingInTurn) {
    snap::ClearSnapShotTables();
    const long reached = storage_allocations_of([] { snap::CaptureSnapShot(); });
    const Processes all_processes = process_table_records();
    const Modules all_modules = module_table_records();
    ASSERT_EQ(all_processes.size(), 45u);
    ASSERT_EQ(all_modules.size(), 135u);
    // Two process blocks, four module blocks, and the cache's 64, 128 and
    // 256 slots.
    ASSERT_EQ(reached, 2 + 4 + 3);

    snap::ClearSnapShotTables();
    const std::int64_t heap = heap_bytes_in_use();
    ASSERT_GE(heap, 0);
    int dropped_one = 0, dropped_none = 0;
    for (long failing = 1; failing <= reached; ++failing) {
        snap::ClearSnapShotTables();
        fake.module_lists_asked.clear();
        fake.process_entry_sizes.clear();
        ASSERT_EQ(heap_bytes_in_use(), heap) << "after allocation " << failing - 1 << " failed";
        snap::fail_storage_after(failing);
        snap::CaptureSnapShot();
        snap::fail_storage_after(0);
        ASSERT_TRUE(consistent(snap::process_table())) << failing;
        ASSERT_TRUE(consistent(snap::module_table())) << failing;
        const Processes processes = process_table_records();
        const Modules modules = module_table_records();
        // Still sorted, and nothing but the capture's own records.
        EXPECT_TRUE(in_order_within(processes, all_processes)) << failing;
        EXPECT_TRUE(in_order_within(modules, all_modules)) << failing;
        const std::size_t lost =
            all_processes.size() + all_modules.size() - processes.size() - modules.size();
        EXPECT_LE(lost, 1u) << failing;
        (lost == 1 ? dropped_one : dropped_none)++;
    }
    snap::ClearSnapShotTables();
    EXPECT_EQ(heap_bytes_in_use(), heap);
    // Table growth loses its record; the cache failing loses nothing.
    EXPECT_EQ(dropped_one, 6);
    EXPECT_EQ(dropped_none, 3);
}

// ---- A registry sequence --------------------------------------------------------------

struct Call {
    const char* what;
    std::function<std::int32_t()> run;
};

class SequenceStorageFaultTest : public SnapshotTest {
protected:
    std::string placed_path_;

    std::vector<Call> sequence() {
        return {
            {"Take a",
             [] {
                 capture_next(some_processes(45), some_modules(85));
                 return TakeSnapShot("a");
             }},
            {"New b",
             [this] {
                 char buffer[KORVEX_WORKFILE_PATH_SIZE] = "b";
                 const std::int32_t result = NewSnapShotWorkFile(buffer);
                 placed_path_ = buffer;
                 // The host places a snapshot there, when it was given a path.
                 if (!placed_path_.empty())
                     write_file(placed_path_, work_file_bytes(some_processes(3), some_modules(41)));
                 return result;
             }},
            {"Take c",
             [] {
                 capture_next(some_processes(2), some_modules(2));
                 return TakeSnapShot("c");
             }},
            {"Select a", [] { return SelectSnapShot("a"); }},
            {"Select b", [] { return SelectSnapShot("b"); }},
            {"Delete c", [] { return DeleteSnapShot("c"); }},
            {"New d",
             [] {
                 char buffer[KORVEX_WORKFILE_PATH_SIZE] = "d";
                 return NewSnapShotWorkFile(buffer);
             }},
            {"Take a again",
             [] {
                 capture_next(some_processes(1), some_modules(40));
                 return TakeSnapShot("a");
             }},
            {"Select a (current)", [] { return SelectSnapShot("a"); }},
            {"Select b again", [] { return SelectSnapShot("b"); }},
            {"Select a (the older)", [] { return SelectSnapShot("a"); }},
            {"Delete a", [] { return DeleteSnapShot("a"); }},
            {"Select a (the newer)", [] { return SelectSnapShot("a"); }},
            {"Init", [this] { return InitSnapShots(work_dir().c_str()); }},
            {"Take e",
             [] {
                 capture_next(some_processes(41), {});
                 return TakeSnapShot("e");
             }},
        };
    }
};

TEST_F(SequenceStorageFaultTest, EveryAllocationOfASequenceFailingInTurn) {
    // The sequence without faults: each call's result and allocations.
    std::vector<std::int32_t> results;
    std::vector<long> first_allocation;  // 1-based allocation number each call starts at
    long reached = 0;
    for (const Call& call : sequence()) {
        first_allocation.push_back(reached + 1);
        reached += storage_allocations_of([&] { results.push_back(call.run()); });
    }
    ASSERT_EQ(results, (std::vector<std::int32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(reached, 6 + 1 + 3 + 2 + 2 + 1 + 3 + 2 + 2 + 2 + 3)
        << "allocations of the whole sequence";

    // Every round starts with the C heap as the first left it.
    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    const std::int64_t heap = heap_bytes_in_use();
    ASSERT_GE(heap, 0);
    for (long failing = 1; failing <= reached; ++failing) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        ASSERT_EQ(heap_bytes_in_use(), heap) << failing;
        snap::fail_storage_after(failing);
        const std::vector<Call> calls = sequence();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const bool meets_failure = failing >= first_allocation[i] &&
                                       (i + 1 == calls.size() || failing < first_allocation[i + 1]);
            std::size_t entries_before = 0, entries_after = 0;
            ASSERT_TRUE(list_whole(entries_before));
            const std::int32_t result = calls[i].run();
            const std::string where =
                std::string(calls[i].what) + ", allocation " + std::to_string(failing);
            ASSERT_TRUE(consistent(snap::process_table())) << where;
            ASSERT_TRUE(consistent(snap::module_table())) << where;
            ASSERT_TRUE(list_whole(entries_after)) << where;
            if (failing >= (i + 1 < calls.size() ? first_allocation[i + 1] : reached + 1)) {
                EXPECT_EQ(result, results[i]) << where << ": a call before the failure";
                continue;
            }
            if (!meets_failure) continue;  // after it: whatever follows from it, checked above
            const std::string what = calls[i].what;
            const bool first_of_call = failing == first_allocation[i];
            if (what.rfind("Take", 0) == 0) {
                // Without its entry nothing is registered; a later block
                // failing drops one record and the snapshot still saves.
                EXPECT_EQ(result, first_of_call ? KORVEX_WORKFILE_CREATE_FAILED : 0) << where;
                EXPECT_EQ(entries_after, entries_before + (first_of_call ? 0 : 1)) << where;
            } else if (what.rfind("New", 0) == 0) {
                EXPECT_EQ(result, 0) << where;
                EXPECT_EQ(entries_after, entries_before) << where;
                if (what == "New b") {
                    EXPECT_EQ(placed_path_, "") << where;
                }
            } else if (what.rfind("Select", 0) == 0) {
                EXPECT_EQ(result, KORVEX_WORKFILE_LOAD_FAILED) << where;
                EXPECT_TRUE(reads_out(Processes{})) << where << ": nothing read out";
                EXPECT_TRUE(reads_out(Modules{})) << where;
            } else {
                ADD_FAILURE() << where << ": this call obtains no storage";
            }
        }
        snap::fail_storage_after(0);
    }
    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    EXPECT_EQ(heap_bytes_in_use(), heap);
}

}  // namespace
}  // namespace korvex::test
