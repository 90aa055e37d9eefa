// The HTML reports' shared parts over in-memory inputs: the JSON a page
// carries, and how a report file is put in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/command.h"
#include "core/files.h"
#include "korvex_cli.h"
#include "report/html_page.h"
#include "report/report_output.h"
#include "temp_dir.h"

namespace korvex::test {
namespace {

namespace fs = std::filesystem;
using namespace korvex::host;
using nlohmann::json;

TEST(HtmlReport, ScriptJsonEscapesWhatCouldEndTheBlock) {
    const struct {
        json document;
        std::string text;
    } cases[] = {
        {"kernel32.dll", R"("kernel32.dll")"},
        {"</script><script>x()</script>",
         R"("\u003c/script\u003e\u003cscript\u003ex()\u003c/script\u003e")"},
        {"<!--a&b-->", R"("\u003c!--a\u0026b--\u003e")"},
        {"\xE2\x80\xA8line\xE2\x80\xA9", R"("\u2028line\u2029")"},
        {"\xE2\x80\xA6 caf\xC3\xA9", "\"\xE2\x80\xA6 caf\xC3\xA9\""},  // other characters stay
        {"C:\\<b>", R"("C:\\\u003cb\u003e")"},  // a backslash before "<" stays one
        {{{"k<", {1, "x>"}}, {"n", nullptr}}, R"({"k\u003c":[1,"x\u003e"],"n":null})"},
    };
    for (const auto& c : cases) {
        const std::string text = script_json(c.document);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(json::parse(text), c.document) << text;
    }
}

TEST(HtmlReport, AReportFileIsPutInPlaceOnlyWhereAllowed) {
    enum class Before { nothing, file, link_to_file };
    const struct {
        Before before;
        bool force;
        int status;
        bool replaced;  // the target holds the page; else what stood there is kept
    } cases[] = {
        {Before::nothing, false, exit_ok, true},
        {Before::file, false, exit_failure, false},
        {Before::file, true, exit_ok, true},
#ifndef _WIN32  // Wine makes no symbolic links
        {Before::link_to_file, false, exit_failure, false},
        {Before::link_to_file, true, exit_ok, true},
#endif
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string target = dir.file("report.html"), other = dir.file("other.txt");
        write_file(other, {'o'});
        if (c.before == Before::file) write_file(target, {'x'});
        if (c.before == Before::link_to_file) fs::create_symlink(other, target);
        const ReportOutput report{true, target, c.force};
        const int checked = check_report_target(report);
        EXPECT_EQ(checked == exit_ok ? write_report(report, "<p>page</p>") : checked, c.status);
        EXPECT_EQ(text_of(target),
                  c.replaced ? "<p>page</p>" : (c.before == Before::file ? "x" : "o"));
        EXPECT_EQ(fs::is_symlink(target), c.before == Before::link_to_file && !c.replaced);
        EXPECT_EQ(read_file(other), std::vector<std::uint8_t>{'o'}) << "never written through";
        int entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, 2) << "nothing left behind";
    }
    // The rename refuses a file that appeared after the check.
    TempDir dir;
    const ReportOutput late{true, dir.file("late.html"), false};
    ASSERT_EQ(check_report_target(late), exit_ok);
    write_file(late.file, {'x'});
    EXPECT_EQ(write_report(late, "page"), exit_failure);
    EXPECT_EQ(read_file(late.file), std::vector<std::uint8_t>{'x'});

    EXPECT_EQ(check_report_target({true, dir.path().string(), true}), exit_usage);
    EXPECT_EQ(check_report_target({true, dir.file("none/report.html"), true}), exit_failure);
    EXPECT_EQ(folder_of("report.html"), ".");
}

}  // namespace
}  // namespace korvex::test
