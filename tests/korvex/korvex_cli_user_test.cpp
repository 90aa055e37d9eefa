// What a new user meets first: patterns that reach the command as typed,
// names that cannot play tricks on the terminal, hints that lead somewhere,
// long names beside 8.3 aliases, and a diff about the user's processes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "korvex_cli.h"
#include "temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

ProcessRecord process(std::uint32_t id, const std::string& exe) {
    return process_record(id, exe.c_str());
}

TEST(KorvexCliUser, PatternsReachTheCommandAsTyped) {
    TempDir dir;
    // Files a runtime's own wildcard expansion would put in the patterns' place.
    dir.write("winenotes.txt", {'x'});
    dir.write("one.exe", ne_image());
    dir.write("two.exe", ne_image());
    dir.write("w.wrk",
              work_file_bytes({process(8, "winedevice.exe"), process(9, "explorer.exe")}, {}));
    const RunOptions here{.working_directory = dir.path().string()};
    const auto show = korvex_cli({"show", "--name", "wine*", "w.wrk"}, here);
    EXPECT_EQ(show.exit_code, 0) << show.err;
    EXPECT_TRUE(contains(show.out, "1 process\n") && contains(show.out, "winedevice.exe"))
        << show.out;
#ifdef _WIN32
    // No shell expands FILE arguments under Windows: korvex does, and only those.
    const auto inspect = korvex_cli({"inspect", "*.exe"}, here);
    EXPECT_TRUE(contains(inspect.out, "2 files: 0 PE, 2 NE")) << inspect.out << inspect.err;
#endif
}

TEST(KorvexCliUser, NamesFromFilesAreEscapedInTextButExactInJson) {
    TempDir dir;
    const std::string evil = "EVIL\x1b]0;owned\x07.dll";
    const auto imports = import_data(PeKind::pe32, 0x1000, {{evil, {by_name("Beep\r")}}});
    const std::string path =
        dir.write("evil.exe", PeBuilder()
                                  .directory(1, 0x1000)
                                  .section({.virtual_address = 0x1000, .data = imports.bytes})
                                  .build());
    const auto text = korvex_cli({"inspect", "--imports", path});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "EVIL\\x1B]0;owned\\x07.dll (1)\n      Beep\\x0D\n"))
        << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    const json document = json::parse(korvex_cli({"inspect", "--json", path}).out);
    EXPECT_EQ(document["files"][0]["imports"][0]["module"], evil);
}

TEST(KorvexCliUser, HintsLeadToOptionsThatExist) {
    TempDir dir;
    const std::string file = dir.write("plain.txt", {'x'});
    const std::string program = dir.write("lone.exe", PeBuilder().build());
    const std::string folder = dir.path().string();
    const struct {
        std::vector<std::string> arguments;
        const char* says;
        const char* never;
    } cases[] = {
        {{"inspect", folder}, "inspect -r", nullptr},
        {{"deps", folder}, "*.exe names the programs in it", "-r"},
        {{"show", folder}, "name a work file in it", "-r"},
        {{"snapshot", "-o", folder}, "--dir", "--force"},
        {{"deps", "--copy-to", file, program}, "could not be created (", nullptr},
    };
    for (const auto& c : cases) {
        const auto run = korvex_cli(c.arguments);
        EXPECT_NE(run.exit_code, 0);
        EXPECT_TRUE(is_one_message(run.err) && contains(run.err, c.says)) << run.err;
        EXPECT_FALSE(c.never != nullptr && contains(run.err, c.never)) << run.err;
    }
    // One fault, one sentence, whichever command meets it.
    const std::string missing = dir.file("missing.exe");
    const auto message = [](std::string err) {
        return err.erase(err.find_last_not_of("\r\n") + 1);
    };
    for (const char* command : {"inspect", "deps"})
        EXPECT_EQ(message(korvex_cli({command, missing}).err),
                  "korvex: " + missing + " does not exist.");

    const auto overview = korvex_cli({"help"});
    for (const char* command : {"inspect", "deps", "snapshot", "show", "diff", "kill", "osversion"})
        EXPECT_TRUE(contains(overview.out, "\n  " + std::string(command) + " ")) << overview.out;
    const auto deps = korvex_cli({"help", "deps"}).out;
    EXPECT_TRUE(contains(deps, "--search FOLDER ")) << deps;
    EXPECT_FALSE(contains(deps, "Excludes") || contains(deps, "TEXT")) << deps;
    const auto inspect = korvex_cli({"inspect", dir.write("one.exe", ne_image())});
    EXPECT_TRUE(contains(inspect.out, "1 file: 0 PE, 1 NE")) << inspect.out;
}

TEST(KorvexCliUser, DiffLeavesKorvexOutUnlessAsked) {
    TempDir dir;
    const std::string self = fs::path(KORVEX_CLI_PATH).filename().string();
    const std::string before = dir.write("a.wrk", work_file_bytes({process(1, "app.exe")}, {}));
    const std::string after =
        dir.write("b.wrk", work_file_bytes({process(1, "app.exe"), process(5, self)},
                                           {module_record(5, self.c_str(), "C:\\K\\KORVEX.EXE")}));
    const auto plain = korvex_cli({"diff", before, after});
    EXPECT_EQ(plain.out, "0 started, 0 ended, 0 changed\n") << plain.err;
    const auto all = korvex_cli({"diff", "--include-korvex", before, after});
    EXPECT_TRUE(contains(all.out, "started 5 " + self + "\n") &&
                contains(all.out, "1 started, 0 ended"))
        << all.out;
}

#ifdef _WIN32
TEST(KorvexCliUser, LongNamesStandBesideShortOnes) {
    TempDir dir;
    const std::string path = dir.write("a-rather-long-library-name.dll", {'M', 'Z'});
    char alias[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(path.c_str(), alias, MAX_PATH), 0u);
    const std::string short_name = fs::path(alias).filename().string();
    ASSERT_NE(short_name, "a-rather-long-library-name.dll") << "no 8.3 alias was made";
    const std::string work = dir.write(
        "s.wrk", work_file_bytes({process(3, "app.exe")},
                                 {module_record(3, short_name.c_str(), alias),
                                  module_record(3, "GONE~1.DLL", "C:\\NOWHERE\\GONE~1.DLL")}));
    const auto run = korvex_cli({"show", work});
    EXPECT_TRUE(contains(run.out, short_name + " (a-rather-long-library-name.dll)")) << run.out;
    EXPECT_TRUE(contains(run.out, "GONE~1.DLL  ")) << "a file no longer there keeps its name";
    const json document = json::parse(korvex_cli({"show", "--json", work}).out);
    EXPECT_EQ(document["modules"][0]["long_name"], "a-rather-long-library-name.dll");
    EXPECT_EQ(document["modules"][0]["name"], short_name) << "the record as stored";
}
#endif

}  // namespace
}  // namespace korvex::test
