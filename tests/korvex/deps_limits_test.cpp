// Crafted files that once ran korvex out of memory or time: each is now
// refused with the limit it passed, the run goes on and exits 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "korvex_cli.h"

namespace korvex::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names(const char* prefix, int count, const char* target = "") {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(target + std::string(*target ? "." : "") + prefix + std::to_string(i));
    return out;
}

TEST(KorvexDepsLimits, CraftedFilesAreRefusedWithTheLimitNamed) {
    TempDir dir;
    const std::string sys = (dir.path() / "sys").string();
    fs::create_directories(sys);
    std::vector<ImportSpec::Function> looped;
    for (const auto& name : names("f", 2000)) looped.push_back(by_name(name));
    dir.write("loop/alpha.dll",
              pe_image(PeKind::pe32, {}, names("f", 2000), names("f", 2000, "beta")));
    dir.write("loop/beta.dll",
              pe_image(PeKind::pe32, {}, names("f", 2000), names("f", 2000, "alpha")));
    dir.write("schema/sys/apisetschema.dll", shared_name_schema(10000, 8000));

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        const char* said;  // in stdout or stderr
    };
    const std::vector<Case> cases = {
        {"a name one byte over the limit",
         {"deps", "--system", sys, dir.write("long.exe", shared_name_program(4, 8193))},
         "longer than 8,192 bytes, the limit for any name"},
        {"inspect: the same name",
         {"inspect", "--imports", dir.write("long2.exe", shared_name_program(4, 8193))},
         "longer than 8,192 bytes, the limit for any name"},
        {"a long name shared by many lookup entries",
         {"deps", "--system", sys, dir.write("shared.exe", shared_name_program(200000, 8000))},
         "16 x its size + 64 MiB"},
        {"inspect: the same shared name",
         {"inspect", "--imports", dir.write("shared2.exe", shared_name_program(200000, 8000))},
         "16 x its size + 64 MiB"},
        {"a million export names and one",
         {"deps", "--system", sys,
          dir.write("names.dll", pe_image(PeKind::pe32, {}, names("n", 1000001)))},
         "more than 1,000,000 functions, the limit per file"},
        {"inspect: the same export names",
         {"inspect", "--exports", (dir.path() / "names.dll").string()},
         "more than 1,000,000"},
        {"forwarders that loop",
         {"deps", "--system", sys,
          dir.write("loop/app.exe", pe_image(PeKind::pe32, {{"alpha.dll", looped}}))},
         "entry point: f1999 in alpha.dll (imported by app.exe)"},
        {"a schema whose sets share one long name",
         {"deps", "--system", (dir.path() / "schema/sys").string(),
          dir.write("schema/app.exe",
                    pe_image(PeKind::pe32, {{"api-ms-win-core-x-l1-1-0.dll", {by_name("f")}}}))},
         "API-set schema takes more than 16 x the file's size"},
    };
    const std::string fine = dir.write("fine.dll", pe_image(PeKind::pe32, {}, {"f"}));
    for (const auto& c : cases) {
        // Each beside a file that reads, to show the run goes on to it.
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back(fine);
        const auto result = korvex_cli(arguments);
        EXPECT_EQ(result.exit_code, 1) << c.what << "\n" << result.out << result.err;
        EXPECT_TRUE(contains(result.out, "fine.dll")) << c.what << "\n" << result.out;
        EXPECT_TRUE(contains(result.out + result.err, c.said)) << c.what << "\n"
                                                               << result.out << result.err;
    }
    // --list prints paths alone: a module refused below the program is said on stderr.
    const auto listed = korvex_cli(
        {"deps", "--list", "--system", sys,
         dir.write("uses.exe", pe_image(PeKind::pe32, {{"names.dll", {by_name("n1")}}}))});
    EXPECT_EQ(listed.exit_code, 1);
    EXPECT_TRUE(contains(listed.err, "names.dll is hostile")) << listed.err;
}

}  // namespace
}  // namespace korvex::test
