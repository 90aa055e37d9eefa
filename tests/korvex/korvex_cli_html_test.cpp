// korvex deps, show and diff with --html end to end: the page carries the
// very document --json prints, the same bytes on every run, and -o, --force
// and the formats combine only as documented.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "korvex_cli.h"
#include "temp_dir.h"

namespace korvex::test {
namespace {

using nlohmann::json;

// A program that needs a DLL nobody has, work files with a change between
// them, and an empty folder standing for the system folder.
struct Inputs {
    TempDir dir;
    std::string app = dir.write("app.exe", pe_image(PeKind::pe32, {{"gone.dll", {by_name("f")}}}));
    std::string before = dir.write(
        "before.wrk",
        work_file_bytes({process_record(4, "app.exe")}, {module_record(4, "a.dll", "1.0", 10)}));
    std::string after = dir.write(
        "after.wrk", work_file_bytes({process_record(4, "app.exe"), process_record(8, "n.exe")},
                                     {module_record(4, "a.dll", "1.1", 12)}));
    std::string system = dir.file("sys");

    Inputs() { std::filesystem::create_directory(system); }
};

TEST(KorvexCliHtml, ThePageCarriesTheJsonDocument) {
    const Inputs in;
    const struct {
        std::vector<std::string> arguments;
        int status;
    } cases[] = {
        {{"deps", "--system", in.system, in.app}, 1},
        {{"show", in.after}, 0},
        {{"diff", in.before, in.after}, 0},
    };
    for (const auto& c : cases) {
        auto with = [&](const char* option) {
            auto arguments = c.arguments;
            arguments.insert(arguments.begin() + 1, option);
            return arguments;
        };
        const auto json_run = korvex_cli(with("--json"));
        const auto page = korvex_cli(with("--html"));
        ASSERT_EQ(page.exit_code, c.status) << page.err;
        EXPECT_EQ(json_run.exit_code, c.status);
        EXPECT_EQ(page_data(page.out), json::parse(json_run.out)) << c.arguments[0];
        EXPECT_EQ(korvex_cli(with("--html")).out, page.out) << "a run that differs";
    }
}

TEST(KorvexCliHtml, OutputFileOptionsAndTheirMistakes) {
    const Inputs in;
    const std::string report = in.dir.file("report.html");
    const auto first = korvex_cli({"show", "--html", "-o", report, in.after});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(text_of(report), korvex_cli({"show", "--html", in.after}).out);

    // What stderr says, beside the status; null: nothing (deps says nothing
    // more than its page about a missing module).
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"show", "--html", "-o", report, in.after}, 1, "already exists: use --force"},
        {{"diff", "--html", "--force", "-o", report, in.before, in.after}, 0, nullptr},
        {{"deps", "--html", "--force", "-o", report, "--system", in.system, in.app}, 1, nullptr},
        {{"show", "-o", report, in.after}, 2, "--output requires --html"},
        {{"show", "--force", in.after}, 2, "--force requires --output"},
        {{"show", "--html", "--json", in.after}, 2, "excludes"},
        {{"show", "--html", "--csv", "modules", in.after}, 2, "excludes"},
        {{"diff", "--html", "--json", in.before, in.after}, 2, "excludes"},
        {{"deps", "--html", "--list", in.app}, 2, "excludes"},
        {{"diff", "--html", "-o", in.dir.file("."), in.before, in.after}, 2, "is a folder"},
        {{"diff", "--html", "-o", in.dir.file("none/r.html"), in.before, in.after},
         1,
         "does not exist"},
    };
    for (const auto& c : cases) {
        const auto run = korvex_cli(c.arguments);
        EXPECT_EQ(run.exit_code, c.status) << c.arguments[0] << " " << run.err;
        if (c.says != nullptr)
            EXPECT_TRUE(is_one_message(run.err) && contains(run.err, c.says)) << run.err;
        else
            EXPECT_EQ(run.err, "");
    }
    // deps wrote its page before its status said that gone.dll is missing.
    EXPECT_EQ(page_data(text_of(report))["roots"][0]["missing_modules"][0]["module"], "gone.dll");
}

}  // namespace
}  // namespace korvex::test
