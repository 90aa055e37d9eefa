// What users of readpe, objdump and tasklist expect of korvex: versions and
// help, lists of files, parts of an inspection, machine-readable output.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "korvex_cli.h"
#include "pe_builder.h"
#include "temp_dir.h"

namespace {

using korvex::test::contains;
using korvex::test::korvex_cli;
using korvex::test::TempDir;
using nlohmann::json;

TEST(KorvexCliFeatures, VersionAndHelp) {
    const auto version = korvex_cli({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    const std::string built_for = sizeof(void*) == 8 ? "x86-64" : "i386";
    EXPECT_TRUE(contains(version.out, "korvex 4.0.0 (" + built_for + ")\nlibrary ")) << version.out;
#ifdef _WIN32
    EXPECT_TRUE(contains(version.out, "korvex32.dll version 4.0.")) << version.out;
#endif
    const auto help = korvex_cli({"help", "inspect"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(contains(help.out, "Usage: korvex inspect") && contains(help.out, "--files-from"))
        << help.out;
    EXPECT_FALSE(contains(help.out, "\r")) << "lines end with LF when stdout is not a console";
    const auto overview = korvex_cli({"--help"});
    EXPECT_TRUE(contains(overview.out, "Usage: korvex [OPTIONS]") &&
                contains(overview.out, "Exit status"))
        << overview.out;
    EXPECT_EQ(korvex_cli({"help", "bogus"}).exit_code, 2);
}

TEST(KorvexCliFeatures, FilesFromFoldersListsAndWildcards) {
    TempDir dir;
    const std::string top = dir.write("top.exe", korvex::test::ne_image());
    std::filesystem::create_directory(dir.path() / "sub");
    const std::string nested =
        dir.write((std::filesystem::path("sub") / "nested.exe").string(), korvex::test::ne_image());
    const std::string list = dir.write("list.txt", {});
    std::ofstream(list, std::ios::binary) << top << "\r\n" << nested << "\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-r", dir.path().string()},
         "3 files: 0 PE, 2 NE, 0 LE, 0 MZ, 1 failed"},  // list.txt is no executable
        {{"--files-from", list}, "2 files: 0 PE, 2 NE, 0 LE, 0 MZ, 0 failed"},
        {{"-"}, "2 files: 0 PE, 2 NE, 0 LE, 0 MZ, 0 failed"},
        {{"-r", "--executables", dir.path().string()},
         "2 files: 0 PE, 2 NE, 0 LE, 0 MZ, 0 failed, 1 other file skipped"},
        {{"-r", "--include", "TOP*", "--include", "*.dll", dir.path().string()},
         "1 file: 0 PE, 1 NE, 0 LE, 0 MZ, 0 failed"},
        {{"-r", dir.file("*.exe")}, "2 files: 0 PE, 2 NE, 0 LE, 0 MZ, 0 failed"},
#ifdef _WIN32
        {{dir.file("*.exe")}, "1 file: 0 PE, 1 NE, 0 LE, 0 MZ, 0 failed"},
#endif
    };
    for (const auto& [arguments, summary] : cases) {
        std::vector<std::string> command = {"inspect"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto run = korvex_cli(command, {.input = top + "\n" + nested + "\n"});
        EXPECT_TRUE(contains(run.out, summary)) << arguments[0] << ": " << run.out << run.err;
        EXPECT_TRUE(contains(run.out, top + ": NE")) << run.out;
    }
}

TEST(KorvexCliFeatures, PartsOrdinalsJsonLinesAndDamage) {
    using namespace korvex::test;
    TempDir dir;
    const auto imports =
        import_data(PeKind::pe32, 0x1000, {{"KERNEL32.dll", {by_name("Sleep"), by_ordinal(17)}}});
    const Bytes image = PeBuilder()
                            .directory(1, 0x1000)
                            .section({.virtual_address = 0x1000, .data = imports.bytes})
                            .build();
    const std::string pe = dir.write("ordinal.dll", image);
    const std::string cut = dir.write("cut.dll", Bytes(image.begin(), image.begin() + 0x60));
    // The DLL beside it names ordinal 17 (Base 1: the 17th name).
    std::vector<std::string> names;
    for (int i = 1; i <= 17; ++i) names.push_back("Named" + std::to_string(i));
    dir.write("kernel32.dll", pe_image(PeKind::pe32, {}, names));

    const auto run = korvex_cli({"inspect", "--json-lines", "--imports", pe, cut});
    EXPECT_EQ(run.exit_code, 1);
    std::istringstream lines(run.out);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const json whole = json::parse(line);
    EXPECT_EQ(whole["imports"][0]["functions"], json::parse(R"(["Sleep", 17])"));
    EXPECT_EQ(whole["imports"][0]["ordinal_names"], json::parse(R"({"17": "Named17"})"));
    EXPECT_EQ(whole["machine"], "i386");
    const auto imports_csv = korvex_cli({"inspect", "--csv", "imports", pe});
    EXPECT_TRUE(contains(imports_csv.out, ",KERNEL32.dll,Named17,17\n")) << imports_csv.out;
    EXPECT_EQ(whole["bits"], 32);
    EXPECT_FALSE(whole.contains("exports"));
    ASSERT_TRUE(std::getline(lines, line));
    const json damaged = json::parse(line);
    EXPECT_EQ(damaged["kind"], "PE");
    EXPECT_TRUE(contains(damaged["error"], "damaged")) << damaged;
    EXPECT_FALSE(damaged.contains("imports"));
    EXPECT_FALSE(std::getline(lines, line));
    EXPECT_TRUE(contains(run.err, "cut.dll is damaged")) << run.err;

    // The export table with its ordinals and forwarders, the header facts,
    // and CSV tables.
    const std::string dll = dir.write(
        "exports.dll",
        pe_image(PeKind::pe32, {}, {"Alpha", "Beta", "Gamma"}, {"", "", "NTDLL.RtlGamma"}));
    const json facts =
        json::parse(korvex_cli({"inspect", "--json", "--headers", "--exports", dll}).out);
    const json& inspected = facts["files"][0];
    EXPECT_EQ(inspected["headers"]["subsystem_name"], "console") << inspected;
    ASSERT_EQ(inspected["export_table"].size(), 3u) << inspected;
    EXPECT_EQ(inspected["export_table"][2]["forwarder"], "NTDLL.RtlGamma");
    const auto csv = korvex_cli({"inspect", "--csv", "exports", dll});
    EXPECT_TRUE(contains(csv.out, "file,ordinal,name,forwarder\n")) << csv.out;
    EXPECT_TRUE(contains(csv.out, ",NTDLL.RtlGamma\n")) << csv.out;

    const std::string wide = dir.write("wide.dll", PeBuilder(PeKind::pe32_plus).build());
    const auto text = korvex_cli({"inspect", wide});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "wide.dll: PE (x86-64, 64-bit)\n")) << text.out;
}

TEST(KorvexCliFeatures, ProcessFiltersHeadersAndDates) {
    using namespace korvex::test;
    TempDir dir;
    const std::string work = dir.write(
        "two.wrk",
        work_file_bytes({process_record(4, "alpha.exe"), process_record(8, "Beta.exe")},
                        {module_record(4, "a.dll", "1.0", 10), module_record(8, "b.dll", "2.0", 20),
                         module_record(8, "shared.dll", "3.0", 30)}));
    const std::vector<std::pair<std::vector<std::string>, std::vector<unsigned>>> cases = {
        {{"--name", "BETA*"}, {8}}, {{"--module", "A.DLL"}, {4}},
        {{"--pid", "4"}, {4}},      {{"--name", "?eta.exe", "--module", "sh*"}, {8}},
        {{"--name", "gamma"}, {}},  {{}, {4, 8}}};
    for (const auto& [filter, expected] : cases) {
        std::vector<std::string> command = {"show", "--json", work};
        command.insert(command.end(), filter.begin(), filter.end());
        const json listed = json::parse(korvex_cli(command).out);
        std::vector<unsigned> processes, module_owners;
        for (const auto& p : listed["processes"]) processes.push_back(p["pid"]);
        for (const auto& m : listed["modules"]) module_owners.push_back(m["pid"]);
        EXPECT_EQ(processes, expected) << (filter.empty() ? "" : filter[1]);
        for (unsigned owner : module_owners)
            EXPECT_NE(std::find(expected.begin(), expected.end(), owner), expected.end());
    }
    const auto shown = korvex_cli({"show", "--json", "--pid", "4", work});
    EXPECT_EQ(json::parse(shown.out)["modules"][0]["modified"], "2025-12-31T13:05");
    const auto bare = korvex_cli({"show", "--no-header", "--pid", "8", work});
    const ProcessRecord beta = process_record(8, "Beta.exe");
    const std::string row =
        "8  " + std::to_string(beta.th32ParentProcessID) + "  " + std::to_string(beta.cntThreads) +
        "  " + std::to_string(beta.pcPriClassBase) + "  Beta.exe\n\n8  Beta.exe  b.dll ";
    EXPECT_EQ(bare.out.rfind(row, 0), 0u) << bare.out;
    const auto csv = korvex_cli({"show", "--csv", "modules", "--name", "alpha.exe", work});
    EXPECT_EQ(csv.out,
              "PID,PROCESS,NAME,SIZE,VERSION,DATE,TIME,PATH\n"
              "4,alpha.exe,a.dll,10,1.0,12/31/2025,13:05p,C:\\APP\\a.dll\n")
        << csv.err;
}

TEST(KorvexCliFeatures, KillByNameEndsOnlyThoseProcesses) {
    TempDir dir;
    const std::string self = korvex::test::current_program();
    const std::string sleeper =
        (dir.path() / ("korvex-sleeper" + std::filesystem::path(self).extension().string()))
            .string();
    std::filesystem::copy_file(self, sleeper);
    const unsigned child = korvex::test::start_sleeping_child(sleeper);
    ASSERT_NE(child, 0u);
    const auto run = korvex_cli({"kill", "KORVEX-SLEEP*"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "ended process " + std::to_string(child) + " (korvex-sleeper"))
        << run.out;
    EXPECT_NE(korvex::test::end_child(child, run.exit_code != 0), 7);
    const auto none = korvex_cli({"kill", "korvex-sleeper*"});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_TRUE(contains(none.err, "no running process is named korvex-sleeper*")) << none.err;
}

}  // namespace
