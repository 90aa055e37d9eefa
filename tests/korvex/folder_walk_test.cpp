// The walk behind inspect -r: its rules over trees held in memory, the
// platform's listing over a tree made on disk (natively and under Wine), and
// the whole run where only a run shows it (a deep tree with few files open).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/files.h"
#include "core/host_os.h"
#include "inspect/folder_walk.h"
#include "korvex_cli.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvex::test {
namespace {

using namespace korvex::host;

// Folders by path, each with its identity and entries; a path not held
// cannot be read.
struct TreeCase {
    const char* name;
    std::map<std::string, FolderListing> folders;
    WalkLimits limits;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, bool>> skips;  // path, whether for an error
};

std::string at(const std::string& path) {
    std::string native = "root";
    if (!path.empty()) native += path_separator + path;
    for (char& c : native) c = c == '/' ? path_separator : c;
    return native;
}

// `parent`: the folder the one opened lies in, as its ".." says; 0 when unknown.
FolderListing listing_of(std::uint64_t id, std::vector<FolderEntry> entries,
                         std::uint64_t parent = 0) {
    return {true,
            {},
            {7, id},
            parent == 0 ? FolderIdentity{} : FolderIdentity{7, parent},
            std::move(entries)};
}

TEST(FolderWalk, RulesOverTreesInMemory) {
    using enum EntryKind;
    const TreeCase cases[] = {
        {"each kind",
         {{at(""), listing_of(1, {{"B.exe", file, {}},
                                  {"a.dll", file, {}},
                                  {"pipe", fifo, {}},
                                  {"sock", socket, {}},
                                  {"null", device, {}},
                                  {"gone", dangling_link, {}},
                                  {"other", link_to_folder, {}},
                                  {"odd", unknown, "Permission denied"},
                                  {"sub", folder, {}}})},
          {at("sub"), listing_of(2, {{"c.exe", file, {}}})}},
         {},
         {"a.dll", "B.exe", "sub/c.exe"},  // letter case ignored
         {{"gone", true},
          {"null", false},
          {"odd", true},
          {"other", false},
          {"pipe", false},
          {"sock", false}}},
        {"a loop through a bind mount",
         {{at(""), listing_of(1, {{"x.exe", file, {}}, {"again", folder, {}}})},
          {at("again"), listing_of(1, {{"x.exe", file, {}}, {"again", folder, {}}})}},
         {},
         {"x.exe"},
         {{"again", false}}},
        {"a folder that cannot be read",
         {{at(""), listing_of(1, {{"locked", folder, {}}, {"open", folder, {}}})},
          {at("open"), listing_of(3, {{"y.exe", file, {}}})}},
         {},
         {"open/y.exe"},
         {{"locked", true}}},
        {"a folder whose path became a link: it lies elsewhere",
         {{at(""), listing_of(1, {{"moved", folder, {}}, {"kept", folder, {}}})},
          {at("moved"), listing_of(2, {{"secret.exe", file, {}}}, 9)},
          {at("kept"), listing_of(3, {{"own.exe", file, {}}}, 1)}},
         {},
         {"kept/own.exe"},
         {{"moved", true}}},
        {"the depth limit",
         {{at(""), listing_of(1, {{"d", folder, {}}, {"top.exe", file, {}}})},
          {at("d"), listing_of(2, {{"d", folder, {}}, {"mid.exe", file, {}}})},
          {at("d/d"), listing_of(3, {{"low.exe", file, {}}})}},
         {.depth = 1},
         {"d/mid.exe", "top.exe"},
         {{"d/d", true}}},
        {"the entry limit",
         {{at(""), listing_of(1, {{"a", folder, {}}, {"b.exe", file, {}}, {"c.exe", file, {}}})},
          {at("a"), listing_of(2, {{"z.exe", file, {}}})}},
         {.entries = 3},
         {"b.exe", "c.exe"},
         {{"a", true}}},
        {"the entry limit inside one folder",
         {{at(""), listing_of(1, {{"a.exe", file, {}},
                                  {"b.exe", file, {}},
                                  {"c.exe", file, {}},
                                  {"d.exe", file, {}}})}},
         {.entries = 2},
         {"a.exe", "b.exe"},
         {{"", true}}},
    };
    for (const auto& test : cases) {
        // As the platform's: at most `max_entries` entries.
        const auto lister = [&](const std::string& path, bool, std::size_t max_entries) {
            EXPECT_LE(max_entries, test.limits.entries + 1) << test.name;
            const auto found = test.folders.find(path);
            if (found == test.folders.end())
                return FolderListing{false, "Permission denied", {}, {}};
            FolderListing listing = found->second;
            if (listing.entries.size() > max_entries) listing.entries.resize(max_entries);
            return listing;
        };
        FolderWalk walk(lister, test.limits);
        std::vector<std::string> files;
        walk.walk(at(""), files);
        std::vector<std::string> expected;
        for (const auto& name : test.files) expected.push_back(at(name));
        EXPECT_EQ(files, expected) << test.name;
        std::vector<std::pair<std::string, bool>> skips;
        std::size_t errors = 0;
        for (const auto& skip : walk.skips()) skips.emplace_back(skip.path, skip.error);
        for (auto& [path, error] : skips) errors += error ? 1 : 0;
        std::vector<std::pair<std::string, bool>> expected_skips;
        for (const auto& [name, error] : test.skips) expected_skips.emplace_back(at(name), error);
        EXPECT_EQ(skips, expected_skips) << test.name;
        EXPECT_EQ(walk.skipped_for_errors(), errors) << test.name;
    }
}

// Links and FIFOs made by Linux programs, removed by one before the folder
// is: Wine shows a link to a folder as a folder, which a removal from here
// would enter, and its DeleteFile waits on a FIFO for a writer.
class LinuxEntries {
public:
    void link(const std::string& target, const std::string& at) {
        remember(at);
        run_program("/bin/ln", {"-s", target, made_.back()});
        wait_until([&] { return listed(at); });
    }
    void fifo(const std::string& at) {
        remember(at);
        run_program("/usr/bin/mkfifo", {made_.back()});
        wait_until([&] { return listed(at); });
    }
    void socket(const std::string& at) {
        remember(at);
        run_program("/usr/bin/python3", {"-c",
                                         "import socket,sys; socket.socket(socket.AF_UNIX)"
                                         ".bind(sys.argv[1])",
                                         made_.back()});
        wait_until([&] { return listed(at); });
    }
    // Each entry is waited for until its folder no longer lists it: a
    // removal of the folder from here while rm is still at work would meet
    // the link or the FIFO.
    ~LinuxEntries() {
        for (std::size_t i = 0; i < made_.size(); ++i) {
            run_program("/bin/rm", {"-f", made_[i]});
            wait_until([&] { return !listed(shown_[i]); });
        }
    }

private:
    void remember(const std::string& at) {
        shown_.push_back(at);
        made_.push_back(linux_path(at));
    }
    static bool listed(const std::string& at) {
        const auto slash = at.find_last_of("\\/");
        const std::string folder = at.substr(0, slash), name = at.substr(slash + 1);
        for (const auto& entry : list_folder(folder, true, 10'000).entries)
            if (entry.name == name) return true;
        return false;
    }

    std::vector<std::string> shown_;  // as this program names them
    std::vector<std::string> made_;
};

TEST(FolderWalk, ListsATreeOnDiskWithoutFollowingLinks) {
    TempDir dir;
    LinuxEntries made;
    const std::string root = dir.path().string();
    dir.write("a.exe", ne_image());
    std::filesystem::create_directories(dir.path() / "sub" / "deeper");
    dir.write((std::filesystem::path("sub") / "deeper" / "b.exe").string(), ne_image());
    made.link("..", dir.file("sub/up"));
    made.link("nowhere", dir.file("gone"));
    made.fifo(dir.file("pipe"));
    made.socket(dir.file("socket"));
    ASSERT_TRUE(std::filesystem::exists(dir.path() / "sub" / "up"));

    FolderWalk walk;
    std::vector<std::string> files;
    walk.walk(root, files);
    const std::string sep(1, path_separator);
    EXPECT_EQ(files, (std::vector<std::string>{
                         dir.file("a.exe"), root + sep + "sub" + sep + "deeper" + sep + "b.exe"}));
    std::map<std::string, bool> skips;
    for (const auto& skip : walk.skips()) skips[skip.path.substr(root.size() + 1)] = skip.error;
#ifdef _WIN32
    // Wine lists no link to nothing.
    const std::map<std::string, bool> expected = {
        {"pipe", false}, {"socket", false}, {"sub" + sep + "up", false}};
#else
    const std::map<std::string, bool> expected = {
        {"gone", true}, {"pipe", false}, {"socket", false}, {"sub" + sep + "up", false}};
#endif
    EXPECT_EQ(skips, expected);
    for (const char* special : {"pipe", "socket"})
        EXPECT_EQ(file_problem(dir.file(special)), "is a device, not a file") << special;
    // The platform's listing stops where it is told to.
    const FolderListing two = list_folder(root, true, 2);
    EXPECT_TRUE(two.read);
    EXPECT_EQ(two.entries.size(), 2u);

#ifndef _WIN32
    // The same folder mounted again inside itself is refused by its identity.
    const std::string again = dir.file("sub/again");
    std::filesystem::create_directory(again);
    if (run_program("/bin/mount", {"--bind", root, again}).exit_code == 0) {
        FolderWalk bound;
        files.clear();
        bound.walk(root, files);
        run_program("/bin/umount", {again});
        EXPECT_EQ(files.size(), 2u);
        ASSERT_EQ(bound.skips().size(), 5u);
        EXPECT_EQ(bound.skips()[4].path, again);
        EXPECT_TRUE(contains(bound.skips()[4].reason, "already walked"));
    }
    if (geteuid() != 0) {
        const auto locked = dir.path() / "sub" / "deeper";
        std::filesystem::permissions(locked, std::filesystem::perms::none);
        FolderWalk refused;
        files.clear();
        refused.walk(root, files);
        std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
        EXPECT_EQ(files, std::vector<std::string>{dir.file("a.exe")});
        EXPECT_EQ(refused.skipped_for_errors(), 2u);  // the link to nothing, the folder
    }
#endif
}

// A folder on the path of the next one to read is swapped for a link to a
// folder outside the tree just before it is opened: the walk finds nothing
// there and says so, on each platform's own listing.
TEST(FolderWalk, StaysInTheTreeWhenAParentBecomesALink) {
    TempDir dir;
    LinuxEntries made;
    dir.write("tree/a/b/in.exe", ne_image());
    dir.write("outside/b/secret.exe", ne_image());
    const std::string sep(1, path_separator), root = dir.file("tree");
    const std::string below = root + sep + "a" + sep + "b";
    bool swapped = false;
    const auto lister = [&](const std::string& path, bool follow_link, std::size_t max_entries) {
        if (!swapped && path == below) {
            swapped = true;
            std::filesystem::rename(dir.path() / "tree" / "a", dir.path() / "moved");
            made.link(linux_path(dir.file("outside")), dir.file("tree/a"));
        }
        return list_folder(path, follow_link, max_entries);
    };
    FolderWalk walk(lister);
    std::vector<std::string> files;
    walk.walk(root, files);
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(files.empty()) << files.front();
    ASSERT_EQ(walk.skips().size(), 1u);
    EXPECT_EQ(walk.skips()[0].path, below);
    EXPECT_TRUE(contains(walk.skips()[0].reason, "a folder on its path became a link"));
}

TEST(FolderWalk, InspectRunSaysWhatItSkippedAndFailsOnErrors) {
    TempDir dir;
    LinuxEntries made;
    dir.write("a.exe", ne_image());
    std::filesystem::create_directory(dir.path() / "sub");
    made.link("..", dir.file("sub/up"));
    const auto looped = korvex_cli({"inspect", "-r", dir.path().string()});
    EXPECT_EQ(looped.exit_code, 0) << looped.err;
    EXPECT_TRUE(contains(looped.out,
                         "1 file: 0 PE, 1 NE, 0 LE, 0 MZ, 0 failed, 1 skipped in "
                         "folders (0 for an error)"))
        << looped.out;
    EXPECT_TRUE(contains(looped.err, "up is a link to a folder, not followed: skipped."))
        << looped.err;
#ifndef _WIN32
    made.link("nowhere", dir.file("gone"));
    const auto dangling = korvex_cli({"inspect", "--json", "-r", dir.path().string()});
    EXPECT_EQ(dangling.exit_code, 1);
    const auto summary = nlohmann::json::parse(dangling.out)["summary"];
    EXPECT_EQ(summary["skipped"], 2);
    EXPECT_EQ(summary["skipped_for_errors"], 1);
    EXPECT_EQ(summary["NE"], 1);

    // Deeper than the files korvex may hold open: every file is still found.
    std::filesystem::path deep = dir.path() / "deep";
    for (int level = 1; level <= 60; ++level) {
        deep /= "d";
        std::filesystem::create_directories(deep);
        if (level % 20 == 0) write_file((deep / "x.exe").string(), ne_image());
    }
    const auto limited =
        run_program("/bin/sh", {"-c", "ulimit -n 24 && exec \"$0\" \"$@\"", KORVEX_CLI_PATH,
                                "inspect", "-r", (dir.path() / "deep").string()});
    EXPECT_EQ(limited.exit_code, 0) << limited.err;
    EXPECT_TRUE(contains(limited.out, "3 files: 0 PE, 3 NE")) << limited.out << limited.err;
#endif
}

}  // namespace
}  // namespace korvex::test
