// How korvex writes files, end to end: a full disk or a file-size limit is
// named and leaves nothing behind, copies get plain modes, a bundle never
// merges two files of one name, and the scratch folders of snapshots stay
// out of folders other users may change.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "korvex_cli.h"

#ifndef _WIN32
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#endif

namespace {

namespace fs = std::filesystem;
using korvex::test::contains;
using korvex::test::korvex_cli;
using korvex::test::TempDir;

#ifndef _WIN32
// A program that imports Work from helper.dll, and that DLL padded to
// `helper_size` bytes.
struct SmallProgram {
    std::string app, helper;

    SmallProgram(const TempDir& dir, std::size_t helper_size) {
        using namespace korvex::test;
        app = dir.write("app.exe", pe_image(PeKind::pe32, {{"helper.dll", {by_name("Work")}}}, {}));
        auto dll = pe_image(PeKind::pe32, {}, {"Work"});
        dll.resize(std::max(dll.size(), helper_size), 0x5A);
        helper = dir.write("helper.dll", dll);
    }
};

// The names a folder holds that a run of korvex may have left: its files
// being written (.korvex-PID-N.tmp) and its scratch folders (korvex-PID-...).
std::vector<std::string> leftovers(const std::string& entries) {
    std::vector<std::string> left;
    for (std::size_t at = 0; (at = entries.find("korvex-", at)) != std::string::npos; ++at)
        left.push_back(entries.substr(at, entries.find('\n', at) - at));
    return left;
}

// korvex run with `folder` a file system of 64 KiB, 60 KiB of it taken,
// mounted for this run alone in a user and mount namespace of its own
// (unshare -Urm): a real full disk, without root. With `as_temporary` it is
// TMPDIR too. The run's stdout holds what the folder held afterwards;
// exit code 125 means no such file system could be made.
korvex::test::ProgramResult on_full_disk(const std::string& folder, bool as_temporary,
                                         const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {
        "-Urm",
        "sh",
        "-c",
        std::string("mount -t tmpfs -o size=64k,mode=0755 korvex-full \"$0\" || exit 125; "
                    "head -c 61440 /dev/zero > \"$0/filler\"; ") +
            (as_temporary ? "export TMPDIR=\"$0\"; " : "") +
            "\"$@\" > /dev/null; code=$?; ls -A \"$0\"; exit $code",
        folder,
        KORVEX_CLI_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    fs::create_directories(folder);
    auto run = korvex::test::run_program("/usr/bin/unshare", all);
    if (contains(run.err, "unshare:")) run.exit_code = 125;
    return run;
}

TEST(KorvexCliWrites, AFullDiskIsNamedAndLeavesNothingBehind) {
    TempDir dir;
    const SmallProgram program(dir, 20000);
    const std::string full = dir.file("full");
    const std::string none = dir.file("none");
    const std::vector<std::vector<std::string>> cases = {
        {"deps", "--list", "--system", none, "--copy-to", full, program.app},
        {"deps", "--html", "-o", full + "/report.html", "--system", none, program.app},
        {"snapshot", "--no-versions", "-o", full + "/taken.wrk"},
        {"snapshot", "--no-versions", "--dir", full},
    };
    for (const auto& arguments : cases) {
        const auto run = on_full_disk(full, false, arguments);
        if (run.exit_code == 125) GTEST_SKIP() << "no user namespaces here: " << run.err;
        EXPECT_EQ(run.exit_code, 1) << arguments[0] << run.err;
        EXPECT_TRUE(contains(run.err, std::strerror(ENOSPC))) << run.err;
        EXPECT_EQ(leftovers(run.out), std::vector<std::string>{}) << run.out;
        EXPECT_FALSE(contains(run.out, "helper.dll") || contains(run.out, ".wrk")) << run.out;
    }
    // A work file read with the temporary folder full: only its records are
    // copied, not the sparse gigabyte after them.
    const std::string sparse = dir.write("sparse.wrk", korvex::test::work_file_bytes({}, {}));
    fs::resize_file(sparse, std::uint64_t{1} << 30);
    const auto shown = on_full_disk(full, true, {"show", sparse});
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_EQ(leftovers(shown.out), std::vector<std::string>{}) << shown.out;
}

// Past a file-size limit (ulimit -f) korvex is not killed by SIGXFSZ: the
// write fails with EFBIG, which is named, and the file is removed.
TEST(KorvexCliWrites, AFileSizeLimitIsNamedAndLeavesNothingBehind) {
    TempDir dir, bundle;
    const SmallProgram program(dir, 1 << 16);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 1 << 14;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto run = korvex_cli({"deps", "--list", "--system", dir.file("none"), "--copy-to",
                                 bundle.path().string(), program.app});
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_TRUE(contains(run.err, std::strerror(EFBIG))) << run.err;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(bundle.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"app.exe"});
}

// Copies are 0644, or 0755 from a file that may be run, less the umask:
// never setuid, setgid or writable by others, whatever the source had.
TEST(KorvexCliWrites, CopiesGetPlainModes) {
    TempDir dir;
    const SmallProgram program(dir, 0);
    fs::permissions(program.app, fs::perms(06777));
    fs::permissions(program.helper, fs::perms(0666));
    const mode_t umask_before = umask(027);
    const auto run = korvex_cli({"deps", "--list", "--system", dir.file("none"), "--copy-to",
                                 dir.file("bundle"), program.app});
    umask(umask_before);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(fs::status(dir.path() / "bundle" / "app.exe").permissions(), fs::perms(0750));
    EXPECT_EQ(fs::status(dir.path() / "bundle" / "helper.dll").permissions(), fs::perms(0640));
}

// A snapshot written into a folder that others may change makes nothing
// there but its own file under a new name, renamed into place: no scratch
// folder another user could swap for one holding a link. A temporary folder
// open to others is refused.
TEST(KorvexCliWrites, ASnapshotMakesNoScratchBesideItsFile) {
    TempDir shared, open_temporary;
    fs::permissions(shared.path(), fs::perms(0777));
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, shared.path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const std::string self = std::to_string(korvex::test::current_process_id());
    const auto run =
        korvex_cli({"snapshot", "--no-versions", "--pid", self, "-o", shared.file("taken.wrk")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    alignas(inotify_event) char events[1 << 14];
    const ssize_t length = read(watch, events, sizeof events);
    close(watch);
    std::vector<std::string> made;
    for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        made.push_back(std::string(event->name) + ((event->mask & IN_ISDIR) ? "/" : ""));
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    ASSERT_FALSE(made.empty());
    for (const auto& name : made)
        EXPECT_TRUE(name == "taken.wrk" || (name.rfind(".korvex-", 0) == 0 && name.back() != '/'))
            << name;

    fs::permissions(open_temporary.path(), fs::perms(0777));
    const korvex::test::ScopedVariable tmpdir("TMPDIR", open_temporary.path().string());
    const auto refused = korvex_cli({"snapshot", "--no-versions", "-o", shared.file("no.wrk")});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(contains(refused.err, "may be changed by other users")) << refused.err;
    EXPECT_TRUE(fs::is_empty(open_temporary.path()));
}
#endif

// One run bundling two programs: a DLL both need is copied once; two
// different DLLs that would take one name in the bundle (natively, names
// that differ only in case too) are both refused, naming both, and --force
// never lets the second replace the first.
TEST(KorvexDeps, ABundleNeverMergesTwoFilesOfOneName) {
    using namespace korvex::test;
    const struct {
        const char* second_name;
        bool same_file;
        bool force;
    } cases[] = {
        {"helper.dll", true, false},
        {"helper.dll", false, false},
        {"helper.dll", false, true},
#ifndef _WIN32
        {"HELPER.dll", false, true},
#endif
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (const char* folder : {"one", "two"}) fs::create_directories(dir.path() / folder);
        const auto program = [&](const std::string& file, const char* helper) {
            write_file(file, pe_image(PeKind::pe32, {{helper, {by_name("Work")}}}, {}));
            return file;
        };
        const std::string first =
            program((dir.path() / "one" / "first.exe").string(), "helper.dll");
        const std::string second = program(
            (dir.path() / (c.same_file ? "one" : "two") / "second.exe").string(), c.second_name);
        write_file((dir.path() / "one" / "helper.dll").string(),
                   pe_image(PeKind::pe32, {}, {"Work"}));
        if (!c.same_file)
            write_file((dir.path() / "two" / c.second_name).string(),
                       pe_image(PeKind::pe32, {}, {"Work", "More"}));
        std::vector<std::string> copy = {
            "deps",      "--list",           "--system", dir.file("none"),
            "--copy-to", dir.file("bundle"), first,      second};
        if (c.force) copy.push_back("--force");
        const auto run = korvex_cli(copy);
        EXPECT_EQ(run.exit_code, c.same_file ? 0 : 1) << run.err;
        std::vector<std::string> copied;
        for (const auto& entry : fs::directory_iterator(dir.path() / "bundle"))
            copied.push_back(entry.path().filename().string());
        std::sort(copied.begin(), copied.end());
        const std::vector<std::string> expected =
            c.same_file ? std::vector<std::string>{"first.exe", "helper.dll", "second.exe"}
                        : std::vector<std::string>{"first.exe", "second.exe"};
        EXPECT_EQ(copied, expected) << c.second_name;
        if (!c.same_file)
            EXPECT_TRUE(run.err.find("(for " + first + ")") != std::string::npos &&
                        run.err.find("(for " + second + ")") != std::string::npos)
                << run.err;
    }
}

// A run killed before it removed its scratch folder (korvex-PID-...) leaves
// it; the next run removes it when that process is gone, and leaves alone
// the folder of a run still going and every other name.
TEST(KorvexCliWrites, TheNextRunRemovesAbandonedScratch) {
    TempDir temporary, work;
    const std::string empty = work.write("empty.wrk", korvex::test::work_file_bytes({}, {}));
    const std::string gone = "korvex-2147483000-abc123";  // no process has this id
    const std::string running =
        "korvex-" + std::to_string(korvex::test::current_process_id()) + "-abc123";
    for (const auto& name : {gone, running, std::string("korvex-notes")}) {
        fs::create_directory(temporary.path() / name);
        temporary.write(name + "/snp00000.wrk", {1, 2, 3});
    }
#ifdef _WIN32
    const korvex::test::ScopedVariable tmp("TMP", temporary.path().string()),
        temp("TEMP", temporary.path().string());
#else
    const korvex::test::ScopedVariable tmp("TMPDIR", temporary.path().string());
#endif
    const auto run = korvex_cli({"show", empty});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_FALSE(fs::exists(temporary.path() / gone));
    EXPECT_TRUE(fs::exists(temporary.path() / running / "snp00000.wrk"));
    EXPECT_TRUE(fs::exists(temporary.path() / "korvex-notes" / "snp00000.wrk"));
}

}  // namespace
