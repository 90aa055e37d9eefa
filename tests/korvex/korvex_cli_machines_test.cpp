// Whose modules a snapshot lists under 64-bit Windows (Wine's 64-bit
// prefix): the 64-bit korvex those of every process, 32-bit ones included;
// the 32-bit korvex those of 32-bit processes only, and it says on stderr
// how many it could not list. The program of the other word size is the
// other Windows build's copy of this test program (KORVEX_OTHER_CLI_TESTS).
#ifdef _WIN32
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "korvex_cli.h"
#include "temp_dir.h"

namespace {

using korvex::test::contains;
using korvex::test::korvex_cli;
using korvex::test::TempDir;
using nlohmann::json;

struct Listed {
    std::map<unsigned, std::string> exe_of;    // process id: executable file
    std::map<unsigned, int> modules_of;        // process id: module records
    std::map<std::string, int> modules_named;  // lower-case executable name: module records
};

Listed listed(const json& snapshot) {
    Listed result;
    for (const auto& process : snapshot["processes"])
        result.exe_of[process["pid"].get<unsigned>()] = process["exe"].get<std::string>();
    for (const auto& module : snapshot["modules"])
        ++result.modules_of[module["pid"].get<unsigned>()];
    for (const auto& [pid, exe] : result.exe_of) {
        std::string name = exe.substr(exe.find_last_of('\\') + 1);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto found = result.modules_of.find(pid);
        result.modules_named[name] += found == result.modules_of.end() ? 0 : found->second;
    }
    return result;
}

bool other_build_present() { return std::filesystem::exists(KORVEX_OTHER_CLI_TESTS); }

#ifdef _WIN64
int modules_of(const std::map<std::string, int>& by_name, const std::string& name) {
    return by_name.count(name) ? by_name.at(name) : 0;
}

TEST(KorvexCliMachines, TheSixtyFourBitBuildListsTheModulesOfEveryProcess) {
    if (!other_build_present()) GTEST_SKIP() << "needs the win32 build for a 32-bit program";
    // Wine starts its desktop process, explorer.exe, for the first program
    // that asks for the desktop.
    ASSERT_NE(GetDesktopWindow(), nullptr);
    const unsigned child = korvex::test::start_sleeping_child(KORVEX_OTHER_CLI_TESTS);
    ASSERT_NE(child, 0u);
    TempDir dir;
    const std::vector<std::string> system = {"services.exe", "explorer.exe", "winedevice.exe",
                                             "plugplay.exe"};
    // The child and explorer.exe may still be starting: a few snapshots,
    // until each has its modules.
    korvex::test::ProgramResult run;
    Listed seen;
    for (int attempt = 0; attempt < 10; ++attempt) {
        run = korvex_cli({"snapshot", "--json", "--force", "-o", dir.file("all.wrk")});
        if (run.exit_code != 0) break;
        seen = listed(json::parse(run.out));
        bool all = seen.modules_of.count(child) != 0;
        for (const auto& name : system) all = all && modules_of(seen.modules_named, name) > 0;
        if (all) break;
        Sleep(300);
    }
    korvex::test::end_child(child, true);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_FALSE(contains(run.err, "no modules listed")) << run.err;
    for (const auto& name : system) EXPECT_GT(modules_of(seen.modules_named, name), 0) << name;
    ASSERT_TRUE(seen.exe_of.count(child)) << "the 32-bit child is listed";
    EXPECT_GT(seen.modules_of.count(child) ? seen.modules_of.at(child) : 0, 0)
        << "the 32-bit child's modules are listed";
}

// The 64-bit capture reads a 32-bit process's modules as that process sees the
// file system (SysWOW64 where it names System32): both builds' snapshots agree
// on every module record they share, and their diff finds no module changed.
TEST(KorvexCliMachines, BothBuildsRecordA32BitProcessesModulesAlike) {
    if (!other_build_present()) GTEST_SKIP() << "needs the win32 build for a 32-bit program";
    std::string korvex32 = KORVEX_OTHER_CLI_TESTS;
    korvex32 = korvex32.substr(0, korvex32.rfind("tests\\korvex\\")) + "korvex.exe";
    const unsigned child = korvex::test::start_sleeping_child(KORVEX_OTHER_CLI_TESTS);
    TempDir dir;
    const std::string by32 = dir.file("by32.wrk"), by64 = dir.file("by64.wrk");
    korvex::test::ProgramResult run32, run64;
    json modules32, modules64;
    const auto has_child = [child](const json& modules) {
        return std::any_of(modules.begin(), modules.end(),
                           [&](auto& m) { return m["pid"] == child; });
    };
    for (int attempt = 0; attempt < 10; ++attempt, Sleep(300)) {
        run32 = korvex::test::run_program(korvex32, {"snapshot", "--json", "--force", "-o", by32});
        run64 = korvex_cli({"snapshot", "--json", "--force", "-o", by64});
        if (run32.exit_code + run64.exit_code != 0) break;
        modules32 = json::parse(run32.out)["modules"];
        modules64 = json::parse(run64.out)["modules"];
        if (has_child(modules32) && has_child(modules64)) break;
    }
    korvex::test::end_child(child, true);
    ASSERT_EQ(run32.exit_code + run64.exit_code, 0) << run32.err << run64.err;
    std::map<std::pair<json, json>, json> recorded32;
    for (const auto& module : modules32) recorded32[{module["pid"], module["path"]}] = module;
    int shared_of_child = 0;
    for (const auto& module : modules64) {
        const auto other = recorded32.find({module["pid"], module["path"]});
        if (other == recorded32.end()) continue;
        shared_of_child += module["pid"] == child ? 1 : 0;
        for (const char* fact : {"size", "version", "modified", "name"})
            EXPECT_EQ(module[fact], other->second[fact]) << fact << " of " << module["path"];
    }
    EXPECT_GT(shared_of_child, 0) << "no module of the 32-bit child in both snapshots";
    const auto diff = korvex_cli({"diff", "--json", by32, by64});
    ASSERT_EQ(diff.exit_code, 0) << diff.err;
    for (const auto& change : json::parse(diff.out)["changed"])  // 64-bit ones gain modules
        EXPECT_TRUE(change["updated"].empty() && change["unloaded"].empty()) << change.dump();
}
#else
TEST(KorvexCliMachines, TheThirtyTwoBitBuildSaysHowManyProcessesItCannotList) {
    // The 64-bit system processes (services.exe and the others) are there
    // in every prefix; a 64-bit child makes sure of one more.
    const unsigned child =
        other_build_present() ? korvex::test::start_sleeping_child(KORVEX_OTHER_CLI_TESTS) : 0;
    TempDir dir;
    const auto run = korvex_cli({"snapshot", "--json", "-o", dir.file("own.wrk")});
    if (child != 0) korvex::test::end_child(child, true);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Listed seen = listed(json::parse(run.out));
    EXPECT_EQ(seen.modules_named.count("services.exe") ? seen.modules_named.at("services.exe") : -1,
              0);
    if (child != 0) EXPECT_EQ(seen.modules_of.count(child), 0u) << "the 64-bit child";
    int without = 0;
    for (const auto& [pid, exe] : seen.exe_of) without += seen.modules_of.count(pid) == 0;
    const std::string prefix = "korvex: no modules listed for ";
    ASSERT_TRUE(contains(run.err, prefix)) << run.err;
    const int told = std::stoi(run.err.substr(run.err.find(prefix) + prefix.size()));
    EXPECT_GT(told, 0);
    EXPECT_LE(told, without) << "only processes without modules are counted";
    EXPECT_TRUE(contains(run.err, " of " + std::to_string(seen.exe_of.size()) +
                                      " processes: they are 64-bit programs"))
        << run.err;
}
#endif

}  // namespace
#endif
