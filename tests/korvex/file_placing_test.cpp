// The placing and reading of files in the host's own rooms: what a checked
// file is read through, what --force may replace, temporary names no one can
// take, and the leftovers of killed runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "core/files.h"
#include "korvex_cli.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvex::test {
namespace {

namespace fs = std::filesystem;
using namespace korvex::host;

// Only a regular file opens, a link only when followed, and nothing waits (a
// FIFO without a writer is refused at once); a file renamed over the path
// later is not what the handle reads. `problem` empty: it opens.
TEST(InputFile, OpensOnlyARegularFileAndReadsWhatItOpened) {
    TempDir dir;
    const std::string file = dir.write("a.dll", {'o', 'l', 'd'});
    fs::create_directory(dir.path() / "folder");
    std::vector<std::tuple<std::string, bool, const char*>> cases = {
        {file, false, ""},
        {dir.file("folder"), true, "is a folder"},
        {dir.file("none"), true, "cannot be opened"}};
#ifndef _WIN32
    fs::create_symlink(file, dir.path() / "link");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    cases.insert(cases.end(), {{dir.file("link"), true, ""},
                               {dir.file("link"), false, "is a link, not followed"},
                               {dir.file("fifo"), true, "is a device, not a file"},
                               {"/dev/zero", true, "is a device, not a file"}});
#else
    cases.push_back({"NUL", true, "is a device, not a file"});
#endif
    for (const auto& [path, follow_link, expected] : cases) {
        InputFile in;
        std::string problem;
        EXPECT_EQ(in.open(path, follow_link, problem), *expected == '\0') << path;
        EXPECT_TRUE(contains(problem, expected)) << path << ": " << problem;
    }
    InputFile in;
    std::string error;
    ASSERT_TRUE(in.open(file, true, error));
#ifndef _WIN32  // Windows refuses the rename while the file is held
    fs::rename(dir.write("b.dll", {'n', 'e', 'w', '!'}), file);
#endif
    char bytes[8] = {};
    EXPECT_EQ(in.read_at(0, bytes, sizeof bytes, error), 3);
    EXPECT_EQ(std::string(bytes, 3), "old");
}

// --force replaces a file, or a link's name (its target unchanged), and
// refuses anything else before writing a byte; the 100 temporary names
// earlier versions tried, taken by another user, no longer block a write.
TEST(PlaceFile, ReplacesOnlyFilesAndCannotBeSquatted) {
    TempDir dir, outside;
    const std::string victim = outside.write("victim", {'v'});
    fs::create_directory(dir.path() / "folder");
    std::vector<std::pair<std::string, const char*>> cases = {
        {dir.write("file", {'f'}), ""}, {dir.file("folder"), "is a folder, which --force"}};
#ifndef _WIN32
    fs::create_symlink(victim, dir.path() / "link");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    cases.insert(cases.end(), {{dir.file("link"), ""},
                               {dir.file("fifo"), "is a FIFO, not a file"},
                               {"/dev/null", "is a device, not a file"}});
#endif
    for (int n = 0; n < 100; ++n)
        dir.write(".korvex-" + std::to_string(own_process_id()) + "-" + std::to_string(n) + ".tmp",
                  {});
    for (const auto& [path, expected] : cases) {
        std::string error;
        const bool moved = place_file(path, "new", true, error) == MoveResult::moved;
        EXPECT_EQ(moved, *expected == '\0') << path << ": " << error;
        EXPECT_TRUE(contains(error, expected)) << path << ": " << error;
        if (moved) {
            EXPECT_EQ(read_file(path), (Bytes{'n', 'e', 'w'}));
        }
    }
    EXPECT_EQ(read_file(victim), Bytes{'v'});
}

// A later run removes only this user's regular files under korvex's pattern
// whose process is gone and that have lain unwritten long enough; a listing
// for one prefix stops at its bounds.
TEST(PlaceFile, RemovesOnlyLeftoversOfKilledRuns) {
    TempDir dir;
    const std::string gone = ".korvex-2147483000-",
                      alive = ".korvex-" + std::to_string(own_process_id()) + "-";
    // name, made an hour ago, removed
    std::vector<std::tuple<std::string, bool, bool>> cases = {
        {gone + "0123456789abcdef.tmp", true, true}, {gone + "7.tmp", true, true},
        {gone + "fresh.tmp", false, false},          {alive + "0123456789abcdef.tmp", true, false},
        {gone + "notes.txt", true, false},           {".korvex-x-1.tmp", true, false},
        {"korvex-2147483000-1.tmp", true, false}};
    std::size_t expected = 0;
    for (const auto& [name, old, removed] : cases) {
        dir.write(name, {1});
        if (old)
            fs::last_write_time(dir.path() / name,
                                fs::file_time_type::clock::now() - std::chrono::hours(1));
        expected += removed ? 1 : 0;
    }
#ifndef _WIN32
    fs::create_symlink(dir.file(gone + "7.tmp"), dir.path() / (gone + "link.tmp"));
    cases.push_back({gone + "link.tmp", false, false});
#endif
    EXPECT_EQ(remove_leftover_files(dir.path().string(), temporary_prefix, 600), expected);
    for (const auto& [name, old, removed] : cases)
        EXPECT_EQ(fs::exists(fs::symlink_status(dir.path() / name)), !removed) << name;
    for (int i = 0; i < 6; ++i) dir.write("scratch-" + std::to_string(i), {});
    const std::string folder = dir.path().string();
    EXPECT_EQ(list_folder_matching(folder, "scratch-", 1000, 1000).entries.size(), 6u);
    EXPECT_EQ(list_folder_matching(folder, "scratch-", 1000, 4).entries.size(), 4u);
    EXPECT_LE(list_folder_matching(folder, "scratch-", 3, 1000).entries.size(), 3u);
}

}  // namespace
}  // namespace korvex::test
