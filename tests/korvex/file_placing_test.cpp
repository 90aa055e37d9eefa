// The placing and reading of files in the host's own rooms: what a checked
// file is read through, what --force may replace, temporary names no one can
// take, and the leftovers of killed runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "core/files.h"
#include "core/host_os.h"
#include "korvex_cli.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvex::test {
namespace {

namespace fs = std::filesystem;
using namespace korvex::host;

// Each kind of entry a path may name: only a regular file opens, a link only
// when followed, and nothing waits (a FIFO without a writer is refused at once).
TEST(InputFile, OpensOnlyARegularFileAndReadsWhatItOpened) {
    TempDir dir;
    const std::string file = dir.write("a.dll", {'o', 'l', 'd'});
    fs::create_directory(dir.path() / "folder");
    struct KindCase {
        std::string path;
        bool follow_link;
        const char* problem;  // empty: opens
    };
    std::vector<KindCase> cases = {{file, false, ""},
                                   {dir.file("folder"), true, "is a folder"},
                                   {dir.file("none"), true, "cannot be opened"}};
#ifndef _WIN32
    fs::create_symlink(file, dir.path() / "link");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    cases.push_back({dir.file("link"), true, ""});
    cases.push_back({dir.file("link"), false, "is a link, not followed"});
    cases.push_back({dir.file("fifo"), true, "is a device, not a file"});
    cases.push_back({"/dev/zero", true, "is a device, not a file"});
#else
    cases.push_back({"NUL", true, "is a device, not a file"});
#endif
    for (const auto& test : cases) {
        InputFile in;
        std::string problem;
        EXPECT_EQ(in.open(test.path, test.follow_link, problem), *test.problem == '\0')
            << test.path;
        EXPECT_TRUE(contains(problem, test.problem)) << test.path << ": " << problem;
    }
    // Another file renamed over the path (natively; Windows refuses while
    // it is held) is not what the handle reads.
    InputFile in;
    std::string error;
    ASSERT_TRUE(in.open(file, true, error));
    dir.write("b.dll", {'n', 'e', 'w', '!'});
#ifndef _WIN32
    fs::rename(dir.path() / "b.dll", file);
#endif
    char bytes[8] = {};
    EXPECT_EQ(in.read_at(0, bytes, sizeof bytes, error), 3);
    EXPECT_EQ(std::string(bytes, 3), "old");
}

// --force replaces a file, or a link's name, and refuses anything else
// before writing a byte; temporary names cannot all be taken in advance.
TEST(PlaceFile, ReplacesOnlyFilesAndCannotBeSquatted) {
    TempDir dir, outside;
    const std::string victim = outside.write("victim", {'v'});
    dir.write("file", {'f'});
    fs::create_directory(dir.path() / "folder");
    struct TargetCase {
        std::string path;
        const char* problem;  // empty: replaced
    };
    std::vector<TargetCase> cases = {{dir.file("file"), ""},
                                     {dir.file("folder"), "is a folder, which --force"}};
#ifndef _WIN32
    fs::create_symlink(victim, dir.path() / "link");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    cases.push_back({dir.file("link"), ""});
    cases.push_back({dir.file("fifo"), "is a FIFO, not a file"});
    cases.push_back({"/dev/null", "is a device, not a file"});
#endif
    // The names earlier versions tried, taken by another user.
    for (int attempt = 0; attempt < 100; ++attempt)
        dir.write(
            ".korvex-" + std::to_string(own_process_id()) + "-" + std::to_string(attempt) + ".tmp",
            {});
    for (const auto& test : cases) {
        std::string error;
        const MoveResult placed = place_file(test.path, "new", true, error);
        EXPECT_EQ(placed == MoveResult::moved, *test.problem == '\0') << test.path << ": " << error;
        EXPECT_TRUE(contains(error, test.problem)) << test.path << ": " << error;
        if (placed == MoveResult::moved) EXPECT_EQ(read_file(test.path), (Bytes{'n', 'e', 'w'}));
    }
    EXPECT_EQ(read_file(victim), Bytes{'v'});
}

// What a killed run left beside its destination is removed by a later run
// when it is this user's regular file under korvex's pattern, its process is
// gone and it has lain unwritten long enough; nothing else is.
TEST(PlaceFile, RemovesOnlyLeftoversOfKilledRuns) {
    TempDir dir;
    const std::string gone = ".korvex-2147483000-",
                      alive = ".korvex-" + std::to_string(own_process_id()) + "-";
    struct LeftoverCase {
        std::string name;
        bool old;
        bool removed;
    };
    std::vector<LeftoverCase> cases = {
        {gone + "0123456789abcdef.tmp", true, true},
        {gone + "7.tmp", true, true},  // an earlier version's name
        {gone + "fresh.tmp", false, false},
        {alive + "0123456789abcdef.tmp", true, false},
        {gone + "notes.txt", true, false},
        {".korvex-x-1.tmp", true, false},
        {"korvex-2147483000-1.tmp", true, false},
    };
    for (const auto& test : cases) {
        dir.write(test.name, {1});
        if (test.old)
            fs::last_write_time(dir.path() / test.name,
                                fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
#ifndef _WIN32
    fs::create_symlink(dir.path() / (gone + "0123456789abcdef.tmp"),
                       dir.path() / (gone + "link.tmp"));
    cases.push_back({gone + "link.tmp", false, false});
#endif
    std::size_t expected = 0;
    for (const auto& test : cases) expected += test.removed ? 1 : 0;
    EXPECT_EQ(remove_leftover_files(dir.path().string(), temporary_prefix, 600), expected);
    for (const auto& test : cases)
        EXPECT_EQ(fs::exists(fs::symlink_status(dir.path() / test.name)), !test.removed)
            << test.name;
    // A listing for names of one prefix stops at its bounds.
    for (int i = 0; i < 6; ++i) dir.write("scratch-" + std::to_string(i), {});
    EXPECT_EQ(list_folder_matching(dir.path().string(), "scratch-", 1000, 1000).entries.size(), 6u);
    EXPECT_EQ(list_folder_matching(dir.path().string(), "scratch-", 1000, 4).entries.size(), 4u);
    EXPECT_LE(list_folder_matching(dir.path().string(), "scratch-", 3, 1000).entries.size(), 3u);
}

}  // namespace
}  // namespace korvex::test
