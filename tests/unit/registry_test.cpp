// The snapshot registry: names, work files, the current snapshot, through the
// exports, with a fake capture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "guarded_path.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot_fixture.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

class RegistryTest : public SnapshotTest {
protected:
    // NewSnapShotWorkFile of `name`: the path it writes into the buffer.
    static std::string new_work_file(const std::string& name) {
        char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
        name.copy(buffer, sizeof buffer - 1);
        EXPECT_EQ(NewSnapShotWorkFile(buffer), 0);
        return buffer;
    }
};

TEST_F(RegistryTest, CounterNamesWorkFilesAcrossTakeAndNewAndKeepsRisingAfterDeletes) {
    EXPECT_EQ(TakeSnapShot("one"), 0);
    EXPECT_EQ(new_work_file("two"), work_path(1));
    EXPECT_EQ(TakeSnapShot("three"), 0);
    EXPECT_EQ(work_file_of("one"), work_path(0));
    EXPECT_EQ(work_file_of("three"), work_path(2));
    EXPECT_TRUE(file_exists(work_path(0)));
    EXPECT_FALSE(file_exists(work_path(1)));
    EXPECT_TRUE(file_exists(work_path(2)));

    for (const char* name : {"one", "two", "three"}) EXPECT_EQ(DeleteSnapShot(name), 0) << name;
    EXPECT_FALSE(file_exists(work_path(0)));
    EXPECT_FALSE(file_exists(work_path(2)));
    EXPECT_EQ(TakeSnapShot("four"), 0);
    EXPECT_EQ(work_file_of("four"), work_path(3));
}

TEST_F(RegistryTest, InitSnapShotsRestartsTheCounterAndOverwritesOldWorkFiles) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("first run"), 0);
    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    EXPECT_TRUE(file_exists(work_path(0))) << "InitSnapShots deletes no work file";
    capture_next(some_processes(1), {});
    ASSERT_EQ(TakeSnapShot("second run"), 0);
    EXPECT_EQ(work_file_of("second run"), work_path(0));
    EXPECT_EQ(read_file(work_path(0)), work_file_bytes(some_processes(1), {}));
}

TEST_F(RegistryTest, WorkFileNamesGrowADigitPastFiveAndTheCounterNeverGoesNegative) {
    const struct {
        std::int32_t counter;
        const char* name;
        std::int32_t next;
    } cases[] = {
        {9999, "snp09999.wrk", 10000},
        {99999, "snp99999.wrk", 100000},
        {100000, "snp100000.wrk", 100001},
        {INT32_MAX, "snp2147483647.wrk", 0},
    };
    for (const auto& c : cases) {
        snap::registry().counter = c.counter;
        EXPECT_EQ(new_work_file("n"), work_path(std::string(c.name)));
        EXPECT_EQ(snap::registry().counter, c.next) << c.name;
        EXPECT_EQ(DeleteSnapShot("n"), 0);
    }
}

TEST_F(RegistryTest, SameNameTwiceMakesTwoEntriesAndLookupsReachTheOlderFirst) {
    capture_next(some_processes(1), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    capture_next(some_processes(2), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"twin", "twin"}));
    EXPECT_EQ(work_file_of("twin"), work_path(0));

    ASSERT_EQ(ClearCurSnapShot(), 0);
    ASSERT_EQ(SelectSnapShot("twin"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(1))) << "the older one loads";

    ASSERT_EQ(DeleteSnapShot("twin"), 0);
    EXPECT_FALSE(file_exists(work_path(0)));
    EXPECT_TRUE(file_exists(work_path(1)));
    EXPECT_EQ(work_file_of("twin"), work_path(1));
    ASSERT_EQ(SelectSnapShot("twin"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(2)));
}

TEST_F(RegistryTest, SelectingTheCurrentNameReadsNoFileEvenWhenAnOlderTwinExists) {
    capture_next(some_processes(1), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    capture_next(some_processes(2), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    // Both files gone: a reload of either would fail.
    std::remove(work_path(0).c_str());
    std::remove(work_path(1).c_str());
    EXPECT_EQ(SelectSnapShot("twin"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(2)));
}

// The current snapshot's name counts as given only when it matches up to and
// including the terminator: a prefix of it, or a longer name starting with
// it, is another name and goes through the lookup (and a reload). Names that
// differ only in case are different snapshots.
TEST_F(RegistryTest, OnlyTheWholeNameOfTheCurrentSnapshotSkipsTheReload) {
    const struct {
        const char* current;
        const char* other;  // registered too, with its own records
        const char* selected;
        std::int32_t result;
        const char* now_current;
        std::size_t processes;  // records of the snapshot current afterwards
    } cases[] = {
        {"alpha", "beta", "alph", -1, "(none)", 0},
        {"alpha", "beta", "alphabet", -1, "(none)", 0},
        {"alpha", "beta", "alpha ", -1, "(none)", 0},
        {"alpha", "alph", "alph", 0, "alph", 2},
        {"alph", "alpha", "alpha", 0, "alpha", 2},
        {"alpha", "alph", "alpha", 0, "alpha", 1},
        {"", "a", "a", 0, "a", 2},
        {"a", "", "", 0, "", 2},
        {"alpha", "Alpha", "Alpha", 0, "Alpha", 2},
        {"Alpha", "alpha", "alpha", 0, "alpha", 2},
        {"Alpha", "alpha", "ALPHA", -1, "(none)", 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        capture_next(some_processes(2), {});
        ASSERT_EQ(TakeSnapShot(c.other), 0);
        capture_next(some_processes(1), {});
        ASSERT_EQ(TakeSnapShot(c.current), 0);
        EXPECT_EQ(SelectSnapShot(c.selected), c.result) << c.current << " / " << c.selected;
        EXPECT_EQ(current_name(), c.now_current) << c.current << " / " << c.selected;
        EXPECT_EQ(process_table_records().size(), c.processes) << c.current << " / " << c.selected;
        const std::string path = std::string(c.selected) == c.other ? work_path(0) : work_path(1);
        EXPECT_EQ(work_file_of(c.selected), c.result == 0 ? path : "") << c.selected;
    }
}

TEST_F(RegistryTest, SelectingTheCurrentSnapshotRewindsWithoutOpeningItsWorkFile) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("now"), 0);
    snap::readout_state() = {2, 3, 2, 9};
    std::remove(work_path(0).c_str());
    EXPECT_EQ(SelectSnapShot("now"), 0);
    expect_readout({2, 0, 0, 0}, "the setting is not a cursor");
    EXPECT_TRUE(same_records(process_table_records(), some_processes(3)));
}

TEST_F(RegistryTest, SelectingAnUnregisteredNameLeavesNoSnapshotCurrent) {
    capture_next(some_processes(2), some_modules(2));
    ASSERT_EQ(TakeSnapShot("there"), 0);
    EXPECT_EQ(SelectSnapShot("not there"), -1);
    EXPECT_EQ(current_name(), "(none)");
    EXPECT_EQ(read_all_processes().results, std::vector<std::int32_t>{-1});
    EXPECT_EQ(read_all_modules().results, std::vector<std::int32_t>{-1});
    EXPECT_EQ(snap::process_table().count, 0) << "no records are kept without a current snapshot";
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"there"}));
}

TEST_F(RegistryTest, AFailedReloadStaysCurrentAndIsNotRetriedOnTheNextSelect) {
    capture_next(some_processes(2), some_modules(2));
    ASSERT_EQ(TakeSnapShot("good"), 0);
    const std::string bad_path = new_work_file("bad");
    write_file(bad_path, {1, 0, 0});
    snap::readout_state() = {3, 1, 2, 44};

    EXPECT_EQ(SelectSnapShot("bad"), -2);
    EXPECT_EQ(current_name(), "bad");
    EXPECT_EQ(snap::process_table().count, 0);
    EXPECT_EQ(snap::module_table().count, 0);
    expect_readout({3, 1, 2, 44});
    ProcessRecord process;
    ModuleRecord module;
    EXPECT_EQ(ReadSnapShotProcesses(&process), 100) << "no record that was not read whole";
    EXPECT_EQ(ReadSnapShotModules(&module), 100);

    // Even with a good file in place now, the entry is current: no reload.
    write_file(bad_path, work_file_bytes(some_processes(4), {}));
    EXPECT_EQ(SelectSnapShot("bad"), 0);
    EXPECT_EQ(snap::process_table().count, 0);
    expect_readout({3, 0, 0, 0});

    // Through another snapshot and back, it loads.
    ASSERT_EQ(SelectSnapShot("good"), 0);
    ASSERT_EQ(SelectSnapShot("bad"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(4)));
}

TEST_F(RegistryTest, NewSnapShotWorkFileRegistersWithoutTouchingTheCurrentSnapshot) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("taken"), 0);
    snap::readout_state() = {1, 2, 1, 5};
    const std::string path = new_work_file("placed");
    EXPECT_EQ(path, work_path(1));
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(current_name(), "taken");
    EXPECT_TRUE(same_records(process_table_records(), some_processes(3)));
    expect_readout({1, 2, 1, 5});

    EXPECT_EQ(SelectSnapShot("placed"), -2) << "nothing stands at the path yet";
    write_file(path, work_file_bytes(some_processes(1), some_modules(6)));
    ASSERT_EQ(SelectSnapShot("taken"), 0);
    ASSERT_EQ(SelectSnapShot("placed"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(1)));
    EXPECT_TRUE(same_records(module_table_records(), some_modules(6)));
}

TEST_F(RegistryTest, DeletingRemovesTheEntryAndItsWorkFile) {
    capture_next(some_processes(1), some_modules(1));
    for (const char* name : {"a", "b", "c"}) ASSERT_EQ(TakeSnapShot(name), 0);
    ASSERT_EQ(SelectSnapShot("a"), 0);

    EXPECT_EQ(DeleteSnapShot("b"), 0);
    EXPECT_FALSE(file_exists(work_path(1)));
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(current_name(), "a") << "deleting another entry leaves the current one";
    EXPECT_EQ(work_file_of("a"), work_path(0));
    EXPECT_EQ(work_file_of("c"), work_path(2));

    EXPECT_EQ(DeleteSnapShot("a"), 0);
    EXPECT_EQ(current_name(), "(none)");
    EXPECT_EQ(snap::process_table().count, 0);
    EXPECT_EQ(read_all_processes().results, std::vector<std::int32_t>{-1});
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"c"}));

    EXPECT_EQ(DeleteSnapShot("c"), 0);
    EXPECT_EQ(registered_names(), std::vector<std::string>{});
    EXPECT_EQ(snap::registry().list.head, nullptr);
    EXPECT_EQ(DeleteSnapShot("c"), -1);

    ASSERT_EQ(TakeSnapShot("d"), 0);
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"d"}));
    EXPECT_EQ(snap::registry().list.head, snap::registry().list.tail);
}

// The work files here were never written: deleting removes the entry all
// the same.
TEST_F(RegistryTest, DeletingHeadAndTailKeepsTheLinksWhole) {
    for (const char* name : {"a", "b", "c", "d"}) new_work_file(name);
    ASSERT_EQ(DeleteSnapShot("a"), 0);
    EXPECT_EQ(work_file_of("a"), "");
    EXPECT_EQ(DeleteSnapShot("a"), -1);
    EXPECT_EQ(DeleteSnapShot("never registered"), -1);
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"b", "c", "d"}));
    ASSERT_EQ(DeleteSnapShot("d"), 0);
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"b", "c"}));
    new_work_file("e");
    EXPECT_EQ(registered_names(), (std::vector<std::string>{"b", "c", "e"}));
}

TEST_F(RegistryTest, AMissingWorkDirectoryFailsTheSaveButKeepsTheCaptureReadable) {
    // Two levels, so that natively too (where "dir\snp00000.wrk" is a file
    // beside "dir") the file's folder is missing.
    const std::string missing = temp_.file("no-such-folder") + "/sub";
    ASSERT_EQ(InitSnapShots(missing.c_str()), 0);
    capture_next(some_processes(4), some_modules(2));
    EXPECT_EQ(TakeSnapShot("unsaved"), -2);
    EXPECT_EQ(current_name(), "unsaved");
    EXPECT_EQ(read_all_processes().processes.size(), 4u);
    EXPECT_EQ(read_all_modules().modules.size(), 2u);
    EXPECT_FALSE(file_exists(missing + "\\snp00000.wrk"));

    ASSERT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(SelectSnapShot("unsaved"), -2) << "its work file was never written";
}

TEST_F(RegistryTest, TakeSnapShotSavesExactlyWhatTheCaptureAppended) {
    capture_next(some_processes(5), some_modules(9));
    snap::readout_state() = {7, 3, 4, 12};
    ASSERT_EQ(TakeSnapShot("saved"), 0);
    EXPECT_EQ(read_file(work_path(0)), work_file_bytes(some_processes(5), some_modules(9)));
    expect_readout({7, 0, 0, 0});
    EXPECT_TRUE(same_records(process_table_records(), some_processes(5)));
}

TEST_F(RegistryTest, ClearCurSnapShotForgetsTheRecordsButKeepsTheEntryAndItsFile) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("kept"), 0);
    snap::readout_state() = {1, 2, 1, 6};
    EXPECT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(current_name(), "(none)");
    EXPECT_EQ(snap::process_table().records, nullptr);
    expect_readout({1, 2, 1, 6}, "cursors are not touched");
    EXPECT_TRUE(file_exists(work_path(0)));
    EXPECT_EQ(ClearCurSnapShot(), 0) << "twice is harmless";
    ASSERT_EQ(SelectSnapShot("kept"), 0);
    EXPECT_TRUE(same_records(process_table_records(), some_processes(3)));
}

TEST_F(RegistryTest, InitSnapShotsDropsTheRegistryButKeepsTheReadoutSettings) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("old"), 0);
    new_work_file("older");
    snap::readout_state() = {4, 2, 1, 8};
    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    EXPECT_EQ(registered_names(), std::vector<std::string>{});
    EXPECT_EQ(current_name(), "(none)");
    EXPECT_EQ(snap::registry().counter, 0);
    EXPECT_EQ(snap::process_table().count, 0);
    expect_readout({4, 2, 1, 8});
    EXPECT_EQ(SelectSnapShot("old"), -1);
}

// What the library gives back when it is unloaded: every block of the
// registry and the tables, and nothing else of the state.
TEST_F(RegistryTest, DroppingAllSnapshotsReleasesEveryBlockAndKeepsTheSettings) {
    capture_next(some_processes(45), some_modules(90));
    ASSERT_EQ(TakeSnapShot("taken"), 0);
    new_work_file("placed");
    ASSERT_GT(snap::storage_blocks_in_use(), 0);
    snap::readout_state() = {4, 2, 1, 8};
    snap::drop_all_snapshots();
    EXPECT_EQ(snap::storage_blocks_in_use(), 0);
    EXPECT_EQ(registered_names(), std::vector<std::string>{});
    EXPECT_EQ(current_name(), "(none)");
    EXPECT_EQ(snap::process_table().count, 0);
    EXPECT_EQ(snap::module_table().count, 0);
    EXPECT_EQ(snap::registry().counter, 2);
    EXPECT_EQ(std::string(snap::registry().work_directory), work_dir());
    expect_readout({4, 2, 1, 8});
    EXPECT_EQ(read_all_processes().results, std::vector<std::int32_t>{-1});
}

TEST_F(RegistryTest, InitSnapShotsKeepsTheVersionNumberSwitch) {
    for (const std::int32_t flag : {0, 1, 0}) {
        SetGetVersionNumber(flag);
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        EXPECT_EQ(snap::version_numbers_wanted(), flag != 0) << flag;
    }
    SetGetVersionNumber(1);
}

// A snapshot whose save fails is current all the same, so it is read from
// its first record with every module, like one that was saved.
TEST_F(RegistryTest, TakeSnapShotRewindsTheReadoutEvenWhenTheSaveFails) {
    const struct {
        const char* what;
        std::string directory;
    } cases[] = {
        {"missing folder", temp_.file("no-such-folder") + "/sub"},
        {"path too long to compose", std::string(503, 'd')},
    };
    const Modules modules = some_modules(4);
    for (const auto& c : cases) {
        ASSERT_EQ(InitSnapShots(c.directory.c_str()), 0);
        snap::readout_state() = {2, 5, 3, 77};
        capture_next(some_processes(3), modules);
        EXPECT_EQ(TakeSnapShot("unsaved"), KORVEX_WORKFILE_CREATE_FAILED) << c.what;
        expect_readout({2, 0, 0, 0}, c.what);
        const ReadOut processes = read_all_processes();
        EXPECT_EQ(processes.results, (std::vector<std::int32_t>{2, 1, 100})) << c.what;
        EXPECT_TRUE(same_records(processes.processes, some_processes(3))) << c.what;
        EXPECT_TRUE(same_records(read_all_modules().modules, modules)) << c.what;
    }
}

TEST_F(RegistryTest, WorkDirectoryIsTakenExactlyAsGiven) {
    const struct {
        const char* directory;
        const char* path;
    } cases[] = {
        {"C:\\WORK", "C:\\WORK\\snp00000.wrk"},
        {"C:\\WORK\\", "C:\\WORK\\\\snp00000.wrk"},
        {"", "\\snp00000.wrk"},
        {"rel/dir", "rel/dir\\snp00000.wrk"},
        {" spaced ", " spaced \\snp00000.wrk"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(InitSnapShots(c.directory), 0);
        EXPECT_EQ(new_work_file("x"), c.path) << c.directory;
        EXPECT_EQ(work_file_of("x"), c.path) << c.directory;
    }
}

TEST_F(RegistryTest, GetSnapShotWorkFileOfAnUnregisteredNameLeavesTheBufferAlone) {
    new_work_file("known");
    GuardedPath buffer("unknown");
    EXPECT_EQ(GetSnapShotWorkFile(buffer.bytes), -1);
    EXPECT_STREQ(buffer.bytes, "unknown");
    for (std::size_t i = 8; i < sizeof buffer.bytes; ++i) ASSERT_EQ(buffer.bytes[i], '#') << i;
}

}  // namespace
}  // namespace korvex::test
