// How korvex writes files, end to end: a full disk or a file-size limit is
// named and leaves nothing behind, copies get plain modes, a bundle never
// merges two files of one name, and the scratch folders of snapshots stay
// out of folders other users may change.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "korvex_cli.h"

#ifndef _WIN32
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#endif

namespace {

namespace fs = std::filesystem;
using namespace korvex::test;

// `folder/name`, a program importing Work from `helper`, and `folder/helper`
// exporting `exports`, padded to `size` bytes. Answers the program's path.
std::string program_with_helper(const fs::path& folder, const std::string& name,
                                const std::string& helper,
                                const std::vector<std::string>& exports = {"Work"},
                                std::size_t size = 0) {
    fs::create_directories(folder);
    write_file((folder / name).string(), pe_image(PeKind::pe32, {{helper, {by_name("Work")}}}, {}));
    auto dll = pe_image(PeKind::pe32, {}, exports);
    dll.resize(std::max(dll.size(), size), 0x5A);
    write_file((folder / helper).string(), dll);
    return (folder / name).string();
}

// deps --copy-to, with no system folder: `arguments` starts with the folder.
ProgramResult bundle(const TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"deps", "--list", "--system", dir.file("none"), "--copy-to"});
    return korvex_cli(arguments);
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One run bundling two programs: a DLL both need is copied once; two
// different DLLs that would take one name in the bundle (natively, names
// that differ only in case too) are both refused, naming both, and --force
// never lets the second replace the first.
TEST(KorvexCliWrites, ABundleNeverMergesTwoFilesOfOneName) {
    const struct {
        const char *folder, *helper;
        bool force;
    } cases[] = {{"one", "helper.dll", false},
                 {"two", "helper.dll", false},
                 {"two", "helper.dll", true},
#ifndef _WIN32
                 {"two", "HELPER.dll", true}
#endif
    };
    for (const auto& c : cases) {
        TempDir dir;
        const bool shared = std::string(c.folder) == "one";
        const std::string first =
            program_with_helper(dir.path() / "one", "first.exe", "helper.dll");
        const std::string second = program_with_helper(
            dir.path() / c.folder, "second.exe", c.helper,
            shared ? std::vector<std::string>{"Work"} : std::vector<std::string>{"Work", "More"});
        std::vector<std::string> arguments = {dir.file("bundle"), first, second};
        if (c.force) arguments.push_back("--force");
        const auto run = bundle(dir, arguments);
        EXPECT_EQ(run.exit_code, shared ? 0 : 1) << run.err;
        EXPECT_EQ(names_in(dir.path() / "bundle").size(), shared ? 3u : 2u) << c.helper;
        EXPECT_TRUE(shared || (contains(run.err, "(for " + first + ")") &&
                               contains(run.err, "(for " + second + ")")))
            << run.err;
    }
}

#ifndef _WIN32
// korvex run with `folder` a file system of 64 KiB, 60 KiB of it taken,
// mounted for this run alone in a user and mount namespace of its own
// (unshare -Urm): a real full disk, without root. With `as_temporary` it is
// TMPDIR too. stdout: what the folder held afterwards; exit code 125: no
// such file system could be made here.
ProgramResult on_full_disk(const std::string& folder, bool as_temporary,
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
    auto run = run_program("/usr/bin/unshare", all);
    if (contains(run.err, "unshare:")) run.exit_code = 125;
    return run;
}

TEST(KorvexCliWrites, AFullDiskIsNamedAndLeavesNothingBehind) {
    TempDir dir;
    const std::string app =
        program_with_helper(dir.path(), "app.exe", "helper.dll", {"Work"}, 20000);
    const std::string full = dir.file("full"), none = dir.file("none");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"deps", "--list", "--system", none, "--copy-to", full, app},
             {"deps", "--html", "-o", full + "/report.html", "--system", none, app},
             {"snapshot", "--no-versions", "-o", full + "/taken.wrk"},
             {"snapshot", "--no-versions", "--dir", full}}) {
        const auto run = on_full_disk(full, false, arguments);
        if (run.exit_code == 125) GTEST_SKIP() << "no user namespaces here: " << run.err;
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_TRUE(contains(run.err, std::strerror(ENOSPC))) << run.err;
        // app.exe fits; nothing else is left.
        EXPECT_TRUE(run.out == "filler\n" || run.out == "app.exe\nfiller\n") << run.out;
    }
    // With the temporary folder full, show copies only the records of a
    // work file, not the sparse gigabyte after them.
    const std::string sparse = dir.write("sparse.wrk", work_file_bytes({}, {}));
    fs::resize_file(sparse, std::uint64_t{1} << 30);
    const auto shown = on_full_disk(full, true, {"show", sparse});
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    EXPECT_EQ(shown.out, "filler\n");
}

// Past a file-size limit (ulimit -f) korvex is not killed by SIGXFSZ: the
// write fails with EFBIG, which is named, and the file is removed. Copies
// are 0644, or 0755 from a file that may be run, less the umask: never
// setuid, setgid or writable by others, whatever the source had.
TEST(KorvexCliWrites, AFileSizeLimitIsNamedAndModesArePlain) {
    TempDir dir;
    const std::string app =
        program_with_helper(dir.path(), "app.exe", "helper.dll", {"Work"}, 1 << 16);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 1 << 14;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto cut = bundle(dir, {dir.file("cut"), app});
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(cut.exit_code, 1);
    EXPECT_TRUE(contains(cut.err, std::strerror(EFBIG))) << cut.err;
    EXPECT_EQ(names_in(dir.path() / "cut"), std::vector<std::string>{"app.exe"});

    fs::permissions(app, fs::perms(06777));
    fs::permissions(dir.file("helper.dll"), fs::perms(0666));
    const mode_t umask_before = umask(027);
    const auto run = bundle(dir, {dir.file("bundle"), app});
    umask(umask_before);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(fs::status(dir.path() / "bundle" / "app.exe").permissions(), fs::perms(0750));
    EXPECT_EQ(fs::status(dir.path() / "bundle" / "helper.dll").permissions(), fs::perms(0640));
}

// A snapshot written into a folder others may change makes nothing there but
// its own file under a new name, renamed into place: no scratch folder
// another user could swap for one holding a link. A temporary folder open to
// others is refused.
TEST(KorvexCliWrites, ASnapshotMakesNoScratchBesideItsFile) {
    TempDir shared, open_temporary;
    fs::permissions(shared.path(), fs::perms(0777));
    const int watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(watch, shared.path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const auto run =
        korvex_cli({"snapshot", "--no-versions", "--pid", std::to_string(current_process_id()),
                    "-o", shared.file("taken.wrk")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    alignas(inotify_event) char events[1 << 14];
    const ssize_t length = read(watch, events, sizeof events);
    close(watch);
    ASSERT_GT(length, 0);
    for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        const std::string name = event->name;
        EXPECT_TRUE(!(event->mask & IN_ISDIR) &&
                    (name == "taken.wrk" || name.rfind(".korvex-", 0) == 0))
            << name;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    fs::permissions(open_temporary.path(), fs::perms(0777));
    const ScopedVariable tmpdir("TMPDIR", open_temporary.path().string());
    const auto refused = korvex_cli({"snapshot", "--no-versions", "-o", shared.file("no.wrk")});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(contains(refused.err, "may be changed by other users")) << refused.err;
    EXPECT_TRUE(fs::is_empty(open_temporary.path()));
}
#endif

// A run killed before it removed its scratch folder (korvex-PID-...) leaves
// it; the next run removes it when that process is gone, and leaves alone
// the folder of a run still going and every other name.
TEST(KorvexCliWrites, TheNextRunRemovesAbandonedScratch) {
    TempDir temporary, work;
    const std::string empty = work.write("empty.wrk", work_file_bytes({}, {}));
    const std::string gone = "korvex-2147483000-abc123";  // no process has this id
    const std::string running = "korvex-" + std::to_string(current_process_id()) + "-abc123";
    for (const auto& name : {gone, running, std::string("korvex-notes")}) {
        fs::create_directory(temporary.path() / name);
        temporary.write(name + "/snp00000.wrk", {1, 2, 3});
    }
#ifdef _WIN32
    const ScopedVariable tmp("TMP", temporary.path().string()),
        temp("TEMP", temporary.path().string());
#else
    const ScopedVariable tmp("TMPDIR", temporary.path().string());
#endif
    EXPECT_EQ(korvex_cli({"show", empty}).exit_code, 0);
    EXPECT_EQ(names_in(temporary.path()), (std::vector<std::string>{running, "korvex-notes"}));
    EXPECT_TRUE(fs::exists(temporary.path() / running / "snp00000.wrk"));
}

}  // namespace
