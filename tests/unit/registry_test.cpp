// The snapshot registry: names, work files, the current snapshot, through the
// exports, with a fake capture.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_process_source.h"
#include "guarded_path.h"
#include "resource_probe.h"
#include "snapshot/snapshot_list.h"
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

TEST(WorkFileNames, GrowADigitPastFiveAndTheCounterNeverGoesNegative) {
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
        snap::Registry registry;
        registry.counter = c.counter;
        snap::SnapshotEntry entry{};
        snap::name_work_file_from_counter(registry, entry);
        EXPECT_STREQ(entry.work_file_name, c.name);
        EXPECT_EQ(registry.counter, c.next) << c.name;
    }
}

TEST_F(RegistryTest, SameNameTwiceMakesTwoEntriesAndLookupsReachTheOlderFirst) {
    capture_next(some_processes(1), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    capture_next(some_processes(2), {});
    ASSERT_EQ(TakeSnapShot("twin"), 0);
    EXPECT_EQ(work_file_of("twin"), work_path(0));

    ASSERT_EQ(ClearCurSnapShot(), 0);
    ASSERT_EQ(SelectSnapShot("twin"), 0);
    EXPECT_TRUE(reads_out(some_processes(1))) << "the older one loads";

    ASSERT_EQ(DeleteSnapShot("twin"), 0);
    EXPECT_FALSE(file_exists(work_path(0)));
    EXPECT_TRUE(file_exists(work_path(1)));
    EXPECT_EQ(work_file_of("twin"), work_path(1));
    ASSERT_EQ(SelectSnapShot("twin"), 0);
    EXPECT_TRUE(reads_out(some_processes(2)));
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
    EXPECT_TRUE(reads_out(some_processes(2)));
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
        int processes;  // records of the snapshot current afterwards: 2 the other's, 1 its own
    } cases[] = {
        {"alpha", "beta", "alph", -1, 0},
        {"alpha", "beta", "alphabet", -1, 0},
        {"alpha", "beta", "alpha ", -1, 0},
        {"alpha", "alph", "alph", 0, 2},
        {"alph", "alpha", "alpha", 0, 2},
        {"alpha", "alph", "alpha", 0, 1},
        {"", "a", "a", 0, 2},
        {"a", "", "", 0, 2},
        {"alpha", "Alpha", "Alpha", 0, 2},
        {"Alpha", "alpha", "alpha", 0, 2},
        {"Alpha", "alpha", "ALPHA", -1, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        capture_next(some_processes(2), {});
        ASSERT_EQ(TakeSnapShot(c.other), 0);
        capture_next(some_processes(1), {});
        ASSERT_EQ(TakeSnapShot(c.current), 0);
        EXPECT_EQ(SelectSnapShot(c.selected), c.result) << c.current << " / " << c.selected;
        EXPECT_TRUE(c.result == 0 ? reads_out(some_processes(c.processes)) : none_current())
            << c.current << " / " << c.selected;
        const std::string path = std::string(c.selected) == c.other ? work_path(0) : work_path(1);
        EXPECT_EQ(work_file_of(c.selected), c.result == 0 ? path : "") << c.selected;
    }
}

TEST_F(RegistryTest, SelectingTheCurrentSnapshotRewindsWithoutOpeningItsWorkFile) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("now"), 0);
    SetRowsPerCall(2);
    SelectProcess(9);
    read_all_processes(3);
    read_all_modules(0);
    std::remove(work_path(0).c_str());
    EXPECT_EQ(SelectSnapShot("now"), 0);
    EXPECT_EQ(read_all_processes(3).results, (Results{2, 1, 100})) << "the setting is kept";
    EXPECT_TRUE(reads_out(some_modules(3))) << "from the first module, of every process";
}

TEST_F(RegistryTest, SelectingAnUnregisteredNameLeavesNoSnapshotCurrent) {
    capture_next(some_processes(2), some_modules(2));
    ASSERT_EQ(TakeSnapShot("there"), 0);
    EXPECT_EQ(SelectSnapShot("not there"), -1);
    EXPECT_TRUE(none_current());
    EXPECT_EQ(work_file_of("there"), work_path(0));
}

TEST_F(RegistryTest, AFailedReloadStaysCurrentAndIsNotRetriedOnTheNextSelect) {
    capture_next(some_processes(2), some_modules(2));
    ASSERT_EQ(TakeSnapShot("good"), 0);
    const std::string bad_path = new_work_file("bad");
    write_file(bad_path, {1, 0, 0});
    SetRowsPerCall(3);

    // Current, and no record that was not read whole.
    EXPECT_EQ(SelectSnapShot("bad"), -2);
    EXPECT_TRUE(reads_out(Processes{}));
    EXPECT_TRUE(reads_out(Modules{}));

    // Even with a good file in place now, the entry is current: no reload.
    write_file(bad_path, work_file_bytes(some_processes(4), {}));
    EXPECT_EQ(SelectSnapShot("bad"), 0);
    EXPECT_TRUE(reads_out(Processes{}));

    // Through another snapshot and back, it loads.
    ASSERT_EQ(SelectSnapShot("good"), 0);
    ASSERT_EQ(SelectSnapShot("bad"), 0);
    const ReadOut loaded = read_all_processes(4);
    EXPECT_EQ(loaded.results, (Results{3, 1, 100}));
    EXPECT_TRUE(same_records(loaded.processes, some_processes(4)));
}

TEST_F(RegistryTest, NewSnapShotWorkFileRegistersWithoutTouchingTheCurrentSnapshot) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("taken"), 0);
    ProcessRecord first;
    ASSERT_EQ(ReadSnapShotProcesses(&first), 1);
    SelectProcess(2);
    const std::string path = new_work_file("placed");
    EXPECT_EQ(path, work_path(1));
    EXPECT_FALSE(file_exists(path));
    // "taken" is current still, read on from where it stood.
    EXPECT_TRUE(reads_out(Processes{some_processes(3)[1], some_processes(3)[2]}));
    EXPECT_TRUE(reads_out(Modules{some_modules(3)[1]}));

    EXPECT_EQ(SelectSnapShot("placed"), -2) << "nothing stands at the path yet";
    write_file(path, work_file_bytes(some_processes(1), some_modules(6)));
    ASSERT_EQ(SelectSnapShot("taken"), 0);
    ASSERT_EQ(SelectSnapShot("placed"), 0);
    EXPECT_TRUE(reads_out(some_processes(1)));
    EXPECT_TRUE(reads_out(some_modules(6)));
}

TEST_F(RegistryTest, DeletingRemovesTheEntryAndItsWorkFile) {
    capture_next(some_processes(1), some_modules(1));
    for (const char* name : {"a", "b", "c"}) ASSERT_EQ(TakeSnapShot(name), 0);
    ASSERT_EQ(SelectSnapShot("a"), 0);

    EXPECT_EQ(DeleteSnapShot("b"), 0);
    EXPECT_FALSE(file_exists(work_path(1)));
    EXPECT_EQ(work_file_of("b"), "");
    EXPECT_TRUE(reads_out(some_processes(1))) << "deleting another entry leaves the current one";
    EXPECT_EQ(work_file_of("a"), work_path(0));
    EXPECT_EQ(work_file_of("c"), work_path(2));

    EXPECT_EQ(DeleteSnapShot("a"), 0);
    EXPECT_TRUE(none_current());
    EXPECT_EQ(work_file_of("a"), "");
    EXPECT_EQ(work_file_of("c"), work_path(2));

    EXPECT_EQ(DeleteSnapShot("c"), 0);
    EXPECT_EQ(DeleteSnapShot("c"), -1);
    ASSERT_EQ(TakeSnapShot("d"), 0);
    EXPECT_EQ(work_file_of("d"), work_path(3));
}

// The work files here were never written: deleting removes the entry all
// the same.
TEST_F(RegistryTest, DeletingHeadAndTailKeepsTheLinksWhole) {
    for (const char* name : {"a", "b", "c", "d"}) new_work_file(name);
    ASSERT_EQ(DeleteSnapShot("a"), 0);
    EXPECT_EQ(work_file_of("a"), "");
    EXPECT_EQ(DeleteSnapShot("a"), -1);
    EXPECT_EQ(DeleteSnapShot("never registered"), -1);
    ASSERT_EQ(DeleteSnapShot("d"), 0);
    EXPECT_EQ(work_file_of("d"), "");
    new_work_file("e");
    const std::pair<const char*, int> left[] = {{"b", 1}, {"c", 2}, {"e", 4}};
    for (const auto& [name, counter] : left) EXPECT_EQ(work_file_of(name), work_path(counter));
    // Tail, head, then the only one.
    for (const char* name : {"e", "b", "c"}) EXPECT_EQ(DeleteSnapShot(name), 0) << name;
    for (const auto& [name, counter] : left) EXPECT_EQ(work_file_of(name), "") << name;
}

TEST_F(RegistryTest, AMissingWorkDirectoryFailsTheSaveButKeepsTheCaptureReadable) {
    // Two levels, so that natively too (where "dir\snp00000.wrk" is a file
    // beside "dir") the file's folder is missing.
    const std::string missing = temp_.file("no-such-folder") + "/sub";
    ASSERT_EQ(InitSnapShots(missing.c_str()), 0);
    capture_next(some_processes(4), some_modules(2));
    EXPECT_EQ(TakeSnapShot("unsaved"), -2);
    EXPECT_TRUE(reads_out(some_processes(4)));
    EXPECT_TRUE(reads_out(some_modules(2)));
    EXPECT_FALSE(file_exists(missing + "\\snp00000.wrk"));

    ASSERT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(SelectSnapShot("unsaved"), -2) << "its work file was never written";
}

TEST_F(RegistryTest, TakeSnapShotSavesExactlyWhatTheCaptureAppended) {
    capture_next(some_processes(5), some_modules(9));
    SetRowsPerCall(7);
    SelectProcess(12);
    ASSERT_EQ(TakeSnapShot("saved"), 0);
    EXPECT_EQ(read_file(work_path(0)), work_file_bytes(some_processes(5), some_modules(9)));
    EXPECT_EQ(read_all_processes(5).results, (Results{5, 100}));
    EXPECT_TRUE(reads_out(some_modules(9)));
}

TEST_F(RegistryTest, ClearCurSnapShotForgetsTheRecordsButKeepsTheEntryAndItsFile) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("kept"), 0);
    EXPECT_EQ(ClearCurSnapShot(), 0);
    EXPECT_TRUE(none_current());
    EXPECT_TRUE(file_exists(work_path(0)));
    EXPECT_EQ(ClearCurSnapShot(), 0) << "twice is harmless";
    ASSERT_EQ(SelectSnapShot("kept"), 0);
    EXPECT_TRUE(reads_out(some_processes(3)));
}

TEST_F(RegistryTest, InitSnapShotsDropsTheRegistryButKeepsTheReadoutSettings) {
    capture_next(some_processes(3), some_modules(3));
    ASSERT_EQ(TakeSnapShot("old"), 0);
    new_work_file("older");
    SetRowsPerCall(4);
    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    EXPECT_TRUE(none_current());
    EXPECT_EQ(work_file_of("older"), "");
    EXPECT_EQ(SelectSnapShot("old"), -1);
    capture_next(some_processes(5), {});
    ASSERT_EQ(TakeSnapShot("new"), 0);
    EXPECT_EQ(work_file_of("new"), work_path(0));
    EXPECT_EQ(read_all_processes(5).results, (Results{4, 1, 100}));
}

// Every block of the registry and the tables goes back to the C heap, as
// when the library is unloaded. One round first, so that the C runtime's own
// blocks for files and streams are in place.
TEST_F(RegistryTest, InitSnapShotsReleasesEveryBlock) {
    capture_next(some_processes(45), some_modules(90));
    std::int64_t heap_before = 0;
    for (int round = 0; round < 2; ++round) {
        heap_before = heap_bytes_in_use();
        ASSERT_EQ(TakeSnapShot("taken"), 0);
        char placed[KORVEX_WORKFILE_PATH_SIZE] = "placed";
        ASSERT_EQ(NewSnapShotWorkFile(placed), 0);
        ASSERT_GT(heap_bytes_in_use(), heap_before);
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
    }
    EXPECT_EQ(heap_bytes_in_use(), heap_before);
}

// SetGetVersionNumber reaches the capture of every later TakeSnapShot, across
// InitSnapShots: 0 turns the version lookup off and every other value on.
// Records already captured keep what they have.
class VersionNumberSwitchTest : public SnapshotTest {
protected:
    FakeProcessSource fake;
    void SetUp() override {
        SnapshotTest::SetUp();
        fake.add_process(4, "TOOL.EXE").add_module("KERNEL32.DLL", "C:\\KERNEL32.DLL");
        fake.add_file("C:\\KERNEL32.DLL").with_version(0x0004000A, 0x000007CE);
        os::set_process_source(&fake);
        snap::set_capture_for_tests(nullptr);
    }
    void TearDown() override {
        os::set_process_source(nullptr);
        SetGetVersionNumber(1);
        SnapshotTest::TearDown();
    }
    static std::string version_read_out() {
        const Modules modules = read_all_modules(1).modules;
        return modules.size() == 1 ? modules[0].szVersion : "(no module)";
    }
};

TEST_F(VersionNumberSwitchTest, ZeroLeavesVersionsEmptyAndEveryOtherValueReadsThem) {
    for (const std::int32_t flag : {0, 7, 2, -1, 1, 0}) {
        SetGetVersionNumber(flag);
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        ASSERT_EQ(TakeSnapShot("versions"), 0);
        EXPECT_EQ(version_read_out(), flag == 0 ? "" : "4.10.0.1998") << flag;
    }
    SetGetVersionNumber(1);
    ASSERT_EQ(TakeSnapShot("taken"), 0);
    SetGetVersionNumber(0);
    EXPECT_EQ(version_read_out(), "4.10.0.1998");
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
        SetRowsPerCall(2);
        SelectProcess(77);
        capture_next(some_processes(3), modules);
        EXPECT_EQ(TakeSnapShot("unsaved"), KORVEX_WORKFILE_CREATE_FAILED) << c.what;
        const ReadOut processes = read_all_processes(3);
        EXPECT_EQ(processes.results, (Results{2, 1, 100})) << c.what;
        EXPECT_TRUE(same_records(processes.processes, some_processes(3))) << c.what;
        EXPECT_TRUE(reads_out(modules)) << c.what;
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
