// The disk failing under the work files: a work directory that cannot be
// written, a disk that fills up during the save, and a work file removed or
// cut short between the take and a later select. The documented codes come
// back (-2 when the file cannot be created, -3 when the save did not reach
// the disk whole, -2 when a reload is refused), the snapshot just taken
// stays readable, and nothing is read out that was not read whole.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "file_size_limit.h"
#include "snapshot_fixture.h"

namespace korvex::test {
namespace {

class DiskFaultTest : public SnapshotTest {
protected:
    // Takes `name` with these records as the capture.
    static std::int32_t take(const char* name, int processes, int modules) {
        capture_next(some_processes(processes), some_modules(modules));
        return TakeSnapShot(name);
    }
    static void expect_nothing_read_out(const std::string& where) {
        ProcessRecord process;
        ModuleRecord module;
        EXPECT_EQ(ReadSnapShotProcesses(&process), KORVEX_READ_END) << where;
        EXPECT_EQ(ReadSnapShotModules(&module), KORVEX_READ_END) << where;
    }
};

// While its snapshot is current, a work file cut short changes no page: the
// pages come from the tables in memory. On a reload it is refused.
TEST_F(DiskFaultTest, AWorkFileRemovedOrCutShortIsRefusedOnReload) {
    ASSERT_EQ(take("a", 5, 7), 0);
    const std::string path = work_path(0);
    const Bytes whole = read_file(path);
    ASSERT_EQ(whole.size(), 8u + 5 * 296 + 7 * 332);
    write_file(path, Bytes(10, 0xEE));
    EXPECT_TRUE(reads_out(some_processes(5)));
    EXPECT_TRUE(reads_out(some_modules(7)));
    ASSERT_EQ(take("b", 1, 1), 0);

    const std::size_t module_count_at = 4 + 5 * 296;
    const struct {
        const char* what;
        long length;  // -1: the file is removed
    } cases[] = {
        {"removed", -1},
        {"empty", 0},
        {"inside the process count", 3},
        {"after the process count", 4},
        {"inside the process records", 4 + 2 * 296 + 10},
        {"inside the module count", static_cast<long>(module_count_at) + 2},
        {"after the module count", static_cast<long>(module_count_at) + 4},
        {"inside the module records", static_cast<long>(module_count_at) + 4 + 3 * 332 + 5},
        {"one byte short", static_cast<long>(whole.size()) - 1},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.length >= 0) write_file(path, Bytes(whole.begin(), whole.begin() + c.length));
        ASSERT_EQ(SelectSnapShot("b"), 0);
        EXPECT_EQ(SelectSnapShot("a"), KORVEX_WORKFILE_LOAD_FAILED) << c.what;
        expect_nothing_read_out(c.what);
        // The refused snapshot is current: selecting it again reads nothing
        // and still hands nothing out.
        EXPECT_EQ(SelectSnapShot("a"), 0) << c.what;
        expect_nothing_read_out(c.what);
        ASSERT_EQ(SelectSnapShot("b"), 0);
    }
    write_file(path, whole);
    ASSERT_EQ(SelectSnapShot("a"), 0);
    EXPECT_TRUE(reads_out(some_processes(5)));
    EXPECT_TRUE(reads_out(some_modules(7)));
}

#ifndef _WIN32
// Natively the library's "<directory>\snpNNNNN.wrk" is a file beside the
// directory's last component, so a work directory "<folder>/w" puts the work
// files inside <folder>.

TEST_F(DiskFaultTest, AFullDiskFailsTheSaveWithMinusThree) {
    const std::string folder = temp_.file("full");
    std::filesystem::create_directories(folder);
    ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);
    const rlim_t was = limit_file_size(0);
    EXPECT_EQ(take("full", 3, 2), KORVEX_WORKFILE_CLOSE_FAILED);
    limit_file_size(was);
    EXPECT_TRUE(reads_out(some_processes(3))) << "registered and current";
    EXPECT_TRUE(reads_out(some_modules(2)));
    ASSERT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(SelectSnapShot("full"), KORVEX_WORKFILE_LOAD_FAILED)
        << "the work file holds no snapshot";
    expect_nothing_read_out("reload of a work file written on a full disk");
}

// The work folder may be shared with other users. A link at the work file's
// name is replaced by the work file, never written through; a folder there
// stays as it was (-2; a FIFO: below). No temporary file is left behind.
TEST_F(DiskFaultTest, WhatStandsAtTheWorkFileNameIsReplacedNeverWrittenThrough) {
    const std::string victim = temp_.file("victim"), gone = temp_.file("gone");
    write_file(victim, {'v'});
    const std::function<int(const char*)> plants[] = {
        [&](const char* at) { return ::symlink(victim.c_str(), at); },
        [&](const char* at) { return ::symlink(gone.c_str(), at); },
        [](const char* at) { return ::mkdir(at, 0700); },
    };
    for (std::size_t i = 0; i < std::size(plants); ++i) {
        const std::string folder = temp_.file(std::to_string(i).c_str());
        std::filesystem::create_directory(folder);
        ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);
        ASSERT_EQ(plants[i]((folder + "/w\\snp00000.wrk").c_str()), 0);
        EXPECT_EQ(take("planted", 2, 3), i < 2 ? 0 : KORVEX_WORKFILE_CREATE_FAILED) << i;
        ASSERT_EQ(ClearCurSnapShot(), 0);
        EXPECT_EQ(SelectSnapShot("planted"), i < 2 ? 0 : KORVEX_WORKFILE_LOAD_FAILED) << i;
        EXPECT_TRUE(i == 2 || reads_out(some_processes(2))) << i;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << i;
    }
    EXPECT_EQ(read_file(victim), Bytes{'v'}) << "written through a link";
    EXPECT_FALSE(std::filesystem::exists(gone)) << "created through a dangling link";
}

TEST_F(DiskFaultTest, AFifoAtTheWorkFilePathIsRefusedWithoutWaitingForAWriter) {
    // Opened as a stream, a FIFO nobody writes to (or reads from) would hold
    // the call for ever; ctest's timeout is what would catch a regression.
    const std::string folder = temp_.file("fifo");
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/w\\snp00000.wrk";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);

    EXPECT_EQ(take("piped", 3, 2), KORVEX_WORKFILE_CREATE_FAILED);
    EXPECT_TRUE(reads_out(some_processes(3))) << "still readable";
    ASSERT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(SelectSnapShot("piped"), KORVEX_WORKFILE_LOAD_FAILED);
    expect_nothing_read_out("reload from a FIFO");
    struct stat facts {};
    ASSERT_EQ(::stat(path.c_str(), &facts), 0);
    EXPECT_TRUE(S_ISFIFO(facts.st_mode)) << "left as it was";
}

// Another process swaps a FIFO in and out of the work file's place: a reload
// that meets it must refuse it, never wait for a writer. A watchdog plays the
// writer (through the FIFO's other name) whenever reloads stop moving.
TEST_F(DiskFaultTest, AFifoSwappedInAtAnyMomentIsNeverWaitedOn) {
    const std::string folder = temp_.file("swap"), path = folder + "/w\\snp00000.wrk";
    const std::string names[] = {folder + "/file", folder + "/fifo"};
    std::filesystem::create_directories(folder);
    write_file(names[0], work_file_bytes(some_processes(2), {}));
    ASSERT_EQ(::mkfifo(names[1].c_str(), 0600), 0) << std::strerror(errno);
    ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);
    ASSERT_EQ(take("swapped", 2, 0), 0);

    std::atomic<long> reloads{0}, waits{0};
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (long round = 0; !done; ++round) {
            const std::string staged = names[round % 2] + ".staged";
            ::link(names[round % 2].c_str(), staged.c_str());
            ::rename(staged.c_str(), path.c_str());
        }
    });
    std::thread watchdog([&] {
        for (long seen = -1; !done;
             seen = reloads, std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
            const int writer =
                reloads == seen ? ::open(names[1].c_str(), O_WRONLY | O_NONBLOCK) : -1;
            if (writer >= 0) ++waits, ::close(writer);
        }
    });
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
         std::chrono::steady_clock::now() < until; ++reloads) {
        ClearCurSnapShot();
        const std::int32_t result = SelectSnapShot("swapped");
        EXPECT_TRUE(result == 0 || result == KORVEX_WORKFILE_LOAD_FAILED) << result;
    }
    done = true;
    swapper.join();
    watchdog.join();
    EXPECT_EQ(waits, 0) << "reloads held in the open of a FIFO, out of " << reloads;
}

// A small file system of our own, mounted for one test; the test is skipped
// where mounting is not allowed.
class ScratchMount {
public:
    ScratchMount(const std::string& at, const char* options) : at_(at) {
        std::filesystem::create_directories(at);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options) == 0;
        error_ = errno;
    }
    ~ScratchMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    [[nodiscard]] bool mounted() const { return mounted_; }
    [[nodiscard]] std::string why_not() const { return std::strerror(error_); }
    bool remount_read_only() {
        return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string at_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST_F(DiskFaultTest, AReadOnlyWorkDirectoryFailsTheSaveWithMinusTwo) {
    // Permission bits do not stop root, which the tests may run as; a
    // read-only file system stops everyone.
    const std::string folder = temp_.file("ro");
    ScratchMount mount(folder, "size=64k");
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount a file system here: " << mount.why_not();
    ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);
    ASSERT_EQ(take("kept", 1, 1), 0);
    ASSERT_TRUE(mount.remount_read_only());

    EXPECT_EQ(take("unsaved", 4, 3), KORVEX_WORKFILE_CREATE_FAILED);
    EXPECT_FALSE(file_exists(folder + "/w\\snp00001.wrk"));
    EXPECT_TRUE(reads_out(some_processes(4))) << "still readable";
    // The snapshot saved before the file system turned read-only reloads;
    // deleting it cannot remove the file, and removes the entry all the same.
    EXPECT_EQ(SelectSnapShot("kept"), 0);
    EXPECT_TRUE(reads_out(some_processes(1)));
    EXPECT_EQ(DeleteSnapShot("kept"), 0);
    EXPECT_TRUE(file_exists(folder + "/w\\snp00000.wrk"));
    EXPECT_EQ(SelectSnapShot("kept"), KORVEX_SNAPSHOT_NOT_FOUND);
    EXPECT_EQ(SelectSnapShot("unsaved"), KORVEX_WORKFILE_LOAD_FAILED);
    expect_nothing_read_out("reload of the unsaved snapshot");
}

TEST_F(DiskFaultTest, ADiskThatFillsUpFailsTheSaveWithMinusThreeAndTheCutFileIsRefused) {
    const std::string folder = temp_.file("small");
    ScratchMount mount(folder, "size=16k");
    if (!mount.mounted()) GTEST_SKIP() << "cannot mount a file system here: " << mount.why_not();
    ASSERT_EQ(InitSnapShots((folder + "/w").c_str()), 0);

    // 100 modules make a 33,208-byte file on a 16 KiB disk.
    EXPECT_EQ(take("big", 0, 100), KORVEX_WORKFILE_CLOSE_FAILED);
    EXPECT_TRUE(reads_out(some_modules(100))) << "still readable";
    const auto on_disk = std::filesystem::file_size(folder + "/w\\snp00000.wrk");
    EXPECT_LT(on_disk, 8u + 100 * 332) << "the disk took part of it";

    ASSERT_EQ(ClearCurSnapShot(), 0);
    EXPECT_EQ(SelectSnapShot("big"), KORVEX_WORKFILE_LOAD_FAILED);
    expect_nothing_read_out("reload of the cut file");
    // Room again once the cut file is deleted.
    EXPECT_EQ(DeleteSnapShot("big"), 0);
    EXPECT_EQ(take("small", 2, 30), 0);
    EXPECT_EQ(read_file(folder + "/w\\snp00001.wrk"),
              work_file_bytes(some_processes(2), some_modules(30)));
}
#endif

}  // namespace
}  // namespace korvex::test
