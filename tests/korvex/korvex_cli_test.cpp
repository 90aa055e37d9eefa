// Runs the korvex program as a user would and checks what it prints against
// what the library itself answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "korvex32.h"
#include "korvex_cli.h"
#include "pe/module_file.h"
#include "temp_dir.h"

namespace {

using korvex::test::korvex_cli;
using korvex::test::TempDir;
using nlohmann::json;

std::string system_dll(const char* name) {
#ifdef _WIN32
    return std::string("C:\\windows\\system32\\") + name;
#else
    return std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/") + name;
#endif
}

// inspect prints what the library's name lists answer; the host's own
// readers, written apart from them, must find the same imports and names.
TEST(KorvexCli, InspectJsonAgreesWithTheHostsOwnReaders) {
    const std::string path = system_dll("kernel32.dll");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
    const auto run = korvex_cli({"inspect", "--json", path});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json document = json::parse(run.out);
    ASSERT_EQ(document["files"].size(), 1u);
    const json& file = document["files"][0];
    EXPECT_EQ(file["kind"], "PE");
    EXPECT_EQ(file["code"], KORVEX_IMAGE_PE);
    EXPECT_EQ(document["summary"]["PE"], 1);

    const auto module = korvex::host::read_module_file(path);
    ASSERT_TRUE(module->problem.empty()) << module->problem;
    json imports = json::array();
    for (const auto& imported : module->imports) {
        if (imported.delay) continue;
        json functions = json::array();
        for (const auto& function : imported.functions)
            functions.push_back(function.ordinal ? json(*function.ordinal) : json(function.name));
        imports.push_back({{"module", imported.module}, {"functions", functions}});
    }
    ASSERT_FALSE(imports.empty());
    json printed = json::array();
    for (const auto& imported : file["imports"])
        printed.push_back({{"module", imported["module"]}, {"functions", imported["functions"]}});
    EXPECT_EQ(printed, imports);

    std::vector<std::string> names;
    for (const auto& [name, slot] : module->export_slots) names.push_back(name);
    std::sort(names.begin(), names.end());
    auto exports = file["exports"].get<std::vector<std::string>>();
    std::sort(exports.begin(), exports.end());
    EXPECT_EQ(exports, names);
    EXPECT_GT(names.size(), 100u);
}

TEST(KorvexCli, InspectSeveralFilesCountsEachKind) {
    TempDir dir;
    const std::string ne_file = dir.write("old.exe", korvex::test::ne_image());
    const std::string text_file = dir.write("notes.txt", {'h', 'i'});
    const auto run = korvex_cli({"inspect", ne_file, text_file, dir.file("missing.exe")});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.out.find(ne_file + ": NE"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 files: 0 PE, 1 NE, 0 LE, 0 MZ, 2 failed"), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("does not begin with MZ"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("does not exist"), std::string::npos) << run.err;
}

TEST(KorvexCli, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"bogus"},
        {"inspect"},
        {"snapshot", "--rows", "0"},
        {"kill"},
        {"snapshot", "--frobnicate"},
        {"snapshot", "--label", std::string(51, 'x')}};
    for (const auto& arguments : bad) {
        const auto run = korvex_cli(arguments);
        EXPECT_EQ(run.exit_code, 2) << (arguments.empty() ? "" : arguments[0]);
        EXPECT_TRUE(korvex::test::is_one_message(run.err)) << run.err;
    }
}

TEST(KorvexCli, HelpOnEverySubcommand) {
    for (const char* command :
         {"inspect", "snapshot", "show", "diff", "kill", "osversion", "help"}) {
        const auto run = korvex_cli({"help", command});
        EXPECT_EQ(run.exit_code, 0) << command;
        EXPECT_NE(run.out.find("Usage: korvex " + std::string(command)), std::string::npos)
            << command << ": " << run.out;
        // Values are named alone; their ranges are in the descriptions.
        EXPECT_EQ(run.out.find(":INT"), std::string::npos) << run.out;
    }
}

TEST(KorvexCli, SnapshotJsonAgreesWithItsWorkFileAndShow) {
    TempDir dir;
    const auto run = korvex_cli(
        {"snapshot", "--json", "--dir", dir.path().string(), "--rows", "7", "--label", "e2e"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json taken = json::parse(run.out);
    const auto processes = taken["processes"].size();
    const auto modules = taken["modules"].size();
    EXPECT_GT(processes, 0u);
    EXPECT_GT(modules, 0u);

    const std::string work_file = taken["work_file"];
    ASSERT_TRUE(std::filesystem::exists(work_file)) << work_file;
    EXPECT_EQ(std::filesystem::file_size(work_file), 8 + 296 * processes + 332 * modules);

    const auto shown = korvex_cli({"show", "--json", "--rows", "100", work_file});
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    const json reread = json::parse(shown.out);
    EXPECT_EQ(reread["processes"], taken["processes"]);
    EXPECT_EQ(reread["modules"], taken["modules"]);
}

TEST(KorvexCli, SnapshotOfOneProcessShowsOnlyItsModules) {
    TempDir dir;
    const unsigned self = korvex::test::current_process_id();
    const auto run = korvex_cli({"snapshot", "--json", "--no-versions", "--dir",
                                 dir.path().string(), "--pid", std::to_string(self)});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json taken = json::parse(run.out);
    ASSERT_EQ(taken["processes"].size(), 1u);
    EXPECT_EQ(taken["processes"][0]["pid"], self);
    ASSERT_GT(taken["modules"].size(), 0u);
    for (const auto& module : taken["modules"]) {
        EXPECT_EQ(module["pid"], self);
        EXPECT_EQ(module["version"], "");
    }
}

TEST(KorvexCli, ShowRefusesACorruptWorkFile) {
    TempDir dir;
    // Claims one process record but holds only the count.
    const std::string corrupt = dir.write("corrupt.wrk", {1, 0, 0, 0});
    const auto run = korvex_cli({"show", corrupt});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(korvex::test::is_one_message(run.err)) << run.err;
    EXPECT_NE(run.err.find("not a valid work file"), std::string::npos);
    EXPECT_EQ(korvex_cli({"show", dir.file("missing.wrk")}).exit_code, 1);
}

TEST(KorvexCli, KillEndsAProcessAndRefusesAnUnknownOne) {
    const unsigned child = korvex::test::start_sleeping_child();
    ASSERT_NE(child, 0u);
    const auto run = korvex_cli({"kill", std::to_string(child)});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const int code = korvex::test::end_child(child, run.exit_code != 0);
#ifdef _WIN32
    EXPECT_EQ(code, 0);
#else
    EXPECT_EQ(code, 128 + 9);
#endif
    const auto unknown = korvex_cli({"kill", "0"});
    EXPECT_EQ(unknown.exit_code, 1);
    EXPECT_TRUE(korvex::test::is_one_message(unknown.err)) << unknown.err;
}

TEST(KorvexCli, OsVersionJson) {
    const auto run = korvex_cli({"osversion", "--json"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json version = json::parse(run.out);
    EXPECT_GT(version["major"].get<unsigned>(), 0u);
}

}  // namespace
