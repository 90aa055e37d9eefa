// What the registry does beyond its limits: over-long names, work
// directories and paths, and storage that cannot be had.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "guarded_path.h"
#include "linked_exports.h"
#include "null_arguments.h"
#include "snapshot_fixture.h"
#include "storage_count.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

class RegistryLimitsTest : public SnapshotTest {};

TEST_F(RegistryLimitsTest, NamesAreCutToFiftyCharactersEverywhere) {
    const std::string fifty(50, 'n');
    const struct {
        std::string given;
        std::string kept;
    } cases[] = {
        {"", ""},
        {fifty.substr(0, 49), fifty.substr(0, 49)},
        {fifty, fifty},
        {fifty + "X", fifty},
        {fifty + std::string(1000, 'Y'), fifty},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        capture_next(some_processes(2), {});
        ASSERT_EQ(TakeSnapShot(c.given.c_str()), 0) << c.given.size();
        // The long name and its cut form reach the same snapshot; names
        // compare whole, so the one kept is the cut form exactly.
        EXPECT_EQ(work_file_of(c.given), work_path(0)) << c.given.size();
        EXPECT_EQ(work_file_of(c.kept), work_path(0)) << c.given.size();
        EXPECT_EQ(SelectSnapShot(c.given.c_str()), 0);
        EXPECT_EQ(SelectSnapShot(c.kept.c_str()), 0);
        EXPECT_EQ(DeleteSnapShot(c.given.c_str()), 0);
        EXPECT_EQ(work_file_of(c.kept), "") << c.given.size();
    }
}

TEST_F(RegistryLimitsTest, ALongNameInTheBufferIsCutForNewAndGetAlike) {
    GuardedPath buffer(std::string(400, 'L'));
    ASSERT_EQ(NewSnapShotWorkFile(buffer.bytes), 0);
    EXPECT_EQ(std::string(buffer.bytes), work_path(0));
    GuardedPath again(std::string(60, 'L'));
    ASSERT_EQ(GetSnapShotWorkFile(again.bytes), 0);
    EXPECT_EQ(std::string(again.bytes), work_path(0));
}

// Paths that fit are composed whole. One character more and no path is
// composed at all: a cut one would name some other file, so the caller gets
// an empty path, and a new work file is not registered.
TEST_F(RegistryLimitsTest, CallersGetWholePathsOrEmptyOnesAndNoMoreThan516Bytes) {
    const struct {
        std::size_t directory_length;
        bool fits;
    } cases[] = {{502, true},  {503, false}, {515, false},
                 {516, false}, {600, false}, {5000, false}};
    for (const auto& c : cases) {
        const std::string directory(c.directory_length, 'd');
        ASSERT_EQ(InitSnapShots(directory.c_str()), 0);
        const std::string expected = c.fits ? directory + "\\snp00000.wrk" : "";

        GuardedPath made("x");
        ASSERT_EQ(NewSnapShotWorkFile(made.bytes), 0);
        EXPECT_EQ(std::string(made.bytes), expected) << c.directory_length;
        EXPECT_TRUE(made.guard_intact()) << c.directory_length;
        GuardedPath registered("x");
        EXPECT_EQ(GetSnapShotWorkFile(registered.bytes), c.fits ? 0 : -1) << c.directory_length;

        capture_next(some_processes(1), {});
        TakeSnapShot("taken");
        GuardedPath asked("taken");
        ASSERT_EQ(GetSnapShotWorkFile(asked.bytes), 0);
        EXPECT_EQ(std::string(asked.bytes), c.fits ? directory + "\\snp00001.wrk" : "");
        EXPECT_TRUE(asked.guard_intact()) << c.directory_length;
    }
}

// Every call under a work directory whose paths do not fit: nothing is
// written, read or deleted at a cut path, the capture stays readable, and
// callers get the cut path and no more than 516 bytes.
TEST_F(RegistryLimitsTest, EveryCallUnderDirectoriesTooLongForAPath) {
    for (std::size_t length : {503u, 515u, 2000u}) {
        // Folders of 100 characters, so that the file at the cut path could
        // exist (no name in it is longer than a file system allows).
        std::string directory = work_dir();
        while (directory.size() < length)
            directory +=
                "/" + std::string(std::min<std::size_t>(100, length - directory.size() - 1), 'd');
        ASSERT_EQ(directory.size(), length);
        ASSERT_EQ(InitSnapShots(directory.c_str()), 0);
        const std::string kept = directory.substr(0, 515);
        const std::string cut_path = (kept + "\\snp00000.wrk").substr(0, 515);

        capture_next(some_processes(2), some_modules(3));
        EXPECT_EQ(TakeSnapShot("long"), -2) << length;
        EXPECT_TRUE(reads_out(some_processes(2))) << length;
        EXPECT_EQ(work_file_of("long"), "") << length;

        // A file standing at the cut path is neither read nor deleted
        // (natively: Windows' ANSI file calls stop at 260 characters).
#ifndef _WIN32
        std::filesystem::create_directories(cut_path.substr(0, cut_path.rfind('/')));
        write_file(cut_path, work_file_bytes(some_processes(1), {}));
#endif
        ASSERT_EQ(ClearCurSnapShot(), 0);
        EXPECT_EQ(SelectSnapShot("long"), -2) << length;
        EXPECT_TRUE(reads_out(Processes{})) << length;
        EXPECT_EQ(DeleteSnapShot("long"), 0) << length;
#ifndef _WIN32
        EXPECT_TRUE(file_exists(cut_path)) << length;
        std::filesystem::remove(cut_path);
#endif
    }
}

// Names are bytes: those of 128 and above are kept, compared and cut like
// any other, and two names that differ only there are two snapshots.
TEST_F(RegistryLimitsTest, NamesWithBytesOf128AndAboveAreOrdinaryBytes) {
    const std::string high_names[] = {"\xE9t\xE9", "\xC9t\xC9", "\xFF", "\x80\x81",
                                      std::string(49, 'a') + "\xFF\xFE"};
    int counter = 0;
    for (const std::string& name : high_names) {
        capture_next(some_processes(counter + 1), {});
        ASSERT_EQ(TakeSnapShot(name.c_str()), 0);
        EXPECT_EQ(work_file_of(name), work_path(counter++));
    }
    EXPECT_EQ(work_file_of(std::string(49, 'a') + "\xFF"), work_path(4))
        << "cut to 50 bytes, the 50th being \\xFF";
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(SelectSnapShot(high_names[i].c_str()), 0) << i;
        EXPECT_TRUE(reads_out(some_processes(i + 1))) << i;
    }
    EXPECT_EQ(DeleteSnapShot("\xE9t\xE9"), 0);
    EXPECT_EQ(SelectSnapShot("\xE9t\xE9"), -1);
    EXPECT_EQ(SelectSnapShot("\xC9t\xC9"), 0);
}

#ifndef _WIN32
// Natively a path of exactly 515 characters can be created (Windows' ANSI
// file functions stop at 260), so the boundary is checked on disk here.
TEST_F(RegistryLimitsTest, AWorkFilePathOfExactly515CharactersIsWritten) {
    std::string directory = work_dir();
    while (directory.size() < 502) {
        const std::size_t room = 502 - directory.size();
        directory += "/" + std::string(std::min<std::size_t>(room - 1, 100), 's');
        if (room == 1) directory.pop_back(), directory += "t";
    }
    ASSERT_EQ(directory.size(), 502u);
    std::filesystem::create_directories(directory);
    ASSERT_EQ(InitSnapShots(directory.c_str()), 0);
    capture_next(some_processes(1), {});
    ASSERT_EQ(TakeSnapShot("fits"), 0);
    EXPECT_EQ(read_file(directory + "\\snp00000.wrk"), work_file_bytes(some_processes(1), {}));
}
#endif

// Without storage for its entry a take or a new work file registers nothing
// and the counter stays; the next allocation succeeds again. -2 from a take
// says that the new snapshot is current, so no older snapshot may be read out
// in its place; a new work file gets an empty path.
TEST_F(RegistryLimitsTest, TakeOrNewWithoutStorageForTheEntryRegistersNothing) {
    for (const bool take : {true, false}) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        capture_next(some_processes(3), some_modules(3));
        ASSERT_EQ(TakeSnapShot("before"), 0);
        capture_next(some_processes(9), {});
        snap::fail_storage_after(1);
        GuardedPath refused("refused");
        if (take) {
            EXPECT_EQ(TakeSnapShot("refused"), -2);
            EXPECT_TRUE(none_current());
            EXPECT_FALSE(file_exists(work_path(1)));
        } else {
            EXPECT_EQ(NewSnapShotWorkFile(refused.bytes), 0);
            EXPECT_STREQ(refused.bytes, "");
            EXPECT_TRUE(refused.guard_intact());
        }
        EXPECT_EQ(work_file_of("refused"), "") << take;
        EXPECT_EQ(SelectSnapShot("before"), 0) << "the older snapshot is still registered";
        EXPECT_TRUE(reads_out(some_processes(3)));

        // The counter did not move.
        GuardedPath accepted("accepted");
        EXPECT_EQ(take ? TakeSnapShot("accepted") : NewSnapShotWorkFile(accepted.bytes), 0) << take;
        EXPECT_EQ(work_file_of("accepted"), work_path(1));
        if (!take) {
            EXPECT_EQ(std::string(accepted.bytes), work_path(1));
        }
    }
}

// The entry, then the blocks of both tables as the capture grows them: make
// each allocation of a TakeSnapShot fail in turn. Whatever is lost, the
// tables stay consistent and the saved file holds exactly what they hold.
TEST_F(RegistryLimitsTest, EveryFailedAllocationOfATakeLeavesConsistentTablesAndFile) {
    const Processes processes = some_processes(85);
    const Modules modules = some_modules(125);
    capture_next(processes, modules);
    const long allocations = storage_allocations_of([] { EXPECT_EQ(TakeSnapShot("count"), 0); });
    ASSERT_EQ(allocations, 1 + 3 + 4) << "one entry, 3 process blocks, 4 module blocks";

    for (long failing = 1; failing <= allocations; ++failing) {
        ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
        snap::fail_storage_after(failing);
        const std::int32_t result = TakeSnapShot("partial");
        snap::fail_storage_after(0);
        if (failing == 1) {
            EXPECT_EQ(result, -2);
            EXPECT_EQ(work_file_of("partial"), "");
            continue;
        }
        EXPECT_EQ(result, 0) << failing;
        const Processes kept_processes = read_all_processes(processes.size()).processes;
        const Modules kept_modules = read_all_modules(modules.size()).modules;
        // The one append whose growth failed dropped its record; the next
        // append grew the table and went on.
        EXPECT_EQ(kept_processes.size() + kept_modules.size(), 85u + 125u - 1u) << failing;
        EXPECT_TRUE(in_order_within(kept_processes, processes)) << failing;
        EXPECT_TRUE(in_order_within(kept_modules, modules)) << failing;
        EXPECT_EQ(read_file(work_path(0)), work_file_bytes(kept_processes, kept_modules));
    }
}

TEST_F(RegistryLimitsTest, AReloadWithoutStorageFailsAndStaysCurrentWithEmptyTables) {
    capture_next(some_processes(2), some_modules(2));
    ASSERT_EQ(TakeSnapShot("a"), 0);
    ASSERT_EQ(TakeSnapShot("b"), 0);
    for (long failing = 1; failing <= 2; ++failing) {
        ASSERT_EQ(SelectSnapShot("b"), 0);
        snap::fail_storage_after(failing);
        EXPECT_EQ(SelectSnapShot("a"), -2) << failing;
        snap::fail_storage_after(0);
        EXPECT_TRUE(reads_out(Processes{})) << "current, and empty";
        EXPECT_TRUE(reads_out(Modules{}));
    }
}

TEST_F(RegistryLimitsTest, NullArgumentsGetTheirDocumentedAnswers) {
    capture_next(some_processes(2), some_modules(3));
    expect_null_arguments_answered(linked_exports(), work_dir());
}

}  // namespace
}  // namespace korvex::test
