// What a new user meets first: patterns that reach the command as typed,
// names that cannot play tricks on the terminal, hints that lead somewhere,
// long names beside 8.3 aliases, and a diff about the user's processes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
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
    EXPECT_TRUE(contains(text.out, "\"EVIL\\x1b]0;owned\\x07.dll\" (1)\n      \"Beep\\x0d\"\n"))
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

// The long names and 8.3 aliases of a folder's files, listed as this process
// sees the folder; under WoW64 a 32-bit process lists the native System32
// only with the redirection off.
std::map<std::string, std::string> aliases_in(const std::string& folder, bool native_view) {
    void* redirection = nullptr;
    BOOL wow64 = FALSE;
    const bool redirected = native_view && IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
                            Wow64DisableWow64FsRedirection(&redirection);
    std::map<std::string, std::string> aliases;
    WIN32_FIND_DATAA found;
    if (HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        search != INVALID_HANDLE_VALUE) {
        do aliases[found.cFileName] = found.cAlternateFileName;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (redirected) Wow64RevertWow64FsRedirection(redirection);
    return aliases;
}

TEST(KorvexCliUser, SystemFilesHaveOneLongNameInBothBuilds) {
    char system[MAX_PATH] = {};
    char wow64[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
    if (GetSystemWow64DirectoryA(wow64, MAX_PATH) == 0) GTEST_SKIP() << "no WoW64 here";
    // Records name both folders' files as System32's: a file that only one of
    // them holds is still found, whichever build reads the record.
    const auto native = aliases_in(system, true);
    const auto wow64_files = aliases_in(wow64, false);
    std::vector<std::pair<std::string, std::string>> one_sided;  // alias, long name
    for (const auto& [files, others] : {std::pair{&native, &wow64_files}, {&wow64_files, &native}})
        for (const auto& [name, alias] : *files)
            if (!alias.empty() && !others->contains(name)) {
                one_sided.emplace_back(alias, name);
                break;
            }
    ASSERT_FALSE(one_sided.empty()) << "no long-named file lies in one folder only";
    TempDir dir;
    std::vector<ModuleRecord> modules;
    for (const auto& [alias, name] : one_sided)
        modules.push_back(
            module_record(3, alias.c_str(), (std::string(system) + "\\" + alias).c_str()));
    const json document = json::parse(
        korvex_cli(
            {"show", "--json", dir.write("s.wrk", work_file_bytes({process(3, "a.exe")}, modules))})
            .out);
    std::map<std::string, json> long_names;
    for (const auto& module : document["modules"]) long_names[module["name"]] = module["long_name"];
    for (const auto& [alias, name] : one_sided) EXPECT_EQ(long_names[alias], name) << alias;
}
#endif

}  // namespace
}  // namespace korvex::test
