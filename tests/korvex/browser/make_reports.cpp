// Makes the pages the browser check opens (check_reports.mjs): crafted
// programs and work files, and the native korvex's --html report of each,
// FOLDER/{deps,hostile,show,crowd,holders,diff}.html. Exits 1, saying why,
// when korvex does not answer as expected.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "korvex_cli.h"
#include "temp_dir.h"

using namespace korvex::test;

// Names that would run script if a page ever took them for markup; each sets
// a flag the browser check looks for. (A module record's short name holds 15
// bytes: there the markup is a <b> element.)
const char* const script_name = "<script>window.korvexInjected='script'</script>.dll";
const char* const image_name = "\"><img src=x onerror=\"window.korvexInjected='image'\">";
const char* const closing_name = "</script><script>window.korvexInjected='closed'</script>";

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: korvex_html_reports FOLDER\n"), 2;
    const std::filesystem::path out = argv[1];
    std::filesystem::remove_all(out);
    for (const char* folder : {"app", "sys", "hostile"})
        std::filesystem::create_directories(out / folder);
    const auto file = [&](const std::string& name) { return (out / name).string(); };

    // app.exe needs alpha.dll (which needs beta.dll, lacking one function
    // and needing deep_gone.dll, which is nowhere), gone.dll, which is
    // nowhere, cut.dll (damaged beside it, whole in the system folder, which
    // Windows does not ship) and kernel32.dll, which four modules import.
    const ImportSpec kernel32 = {"kernel32.dll", {by_name("k")}};
    write_file(file("app/app.exe"), pe_image(PeKind::pe32, {{"alpha.dll", {by_name("alpha_fn")}},
                                                            {"gone.dll", {by_name("gone_fn")}},
                                                            {"cut.dll", {by_name("c")}},
                                                            kernel32}));
    write_file(
        file("app/alpha.dll"),
        pe_image(PeKind::pe32, {{"beta.dll", {by_name("beta_fn"), by_name("beta_gone")}}, kernel32},
                 {"alpha_fn"}));
    write_file(file("app/beta.dll"),
               pe_image(PeKind::pe32, {{"deep_gone.dll", {by_name("d")}}, kernel32}, {"beta_fn"}));
    Bytes cut = pe_image(PeKind::pe32, {kernel32}, {"c"});
    write_file(file("sys/cut.dll"), cut);
    cut.resize(cut.size() / 2);
    write_file(file("app/cut.dll"), cut);
    write_file(file("sys/kernel32.dll"), pe_image(PeKind::pe32, {}, {"k"}));
    write_file(
        file("hostile/evil.exe"),
        pe_image(PeKind::pe32, {{script_name, {by_name(image_name)}},
                                {image_name, {by_name("f")}},
                                {"helper.dll", {by_name(script_name), by_name(closing_name)}}}));
    write_file(file("hostile/helper.dll"), pe_image(PeKind::pe32, {}, {"other"}));

    // system.exe (4) started explorer.exe (8), which started app.exe (12) and
    // a process named to inject.
    std::vector<ProcessRecord> tree = {
        process_record(4, "system.exe"), process_record(8, "explorer.exe"),
        process_record(12, "app.exe"), process_record(13, image_name)};
    tree[0].th32ParentProcessID = 0;
    tree[1].th32ParentProcessID = 4;
    tree[2].th32ParentProcessID = tree[3].th32ParentProcessID = 8;
    tree[2].cntThreads = 3;
    // kernel32.dll is loaded by every process; deep.dll has a long path
    // and a size of ten digits.
    ModuleRecord deep = module_record(12, "deep.dll",
                                      "C:\\Program Files (x86)\\Some Vendor Name\\A Product With "
                                      "A Long Name\\release 12.3.4567\\bin\\plugins\\"
                                      "x86_64-w64-mingw32\\deep.dll");
    deep.dwFileSize = 1'234'567'890;
    std::vector<ModuleRecord> loaded = {
        module_record(4, "ntdll.dll", "10.0", 900),
        module_record(8, "shell32.dll", "10.0", 5000),
        module_record(12, "app.exe", "1.0", 40),
        module_record(12, "alpha.dll", "2.0", 700),
        module_record(12, "<b>b</b>.dll", (std::string("C:\\") + script_name).c_str()),
        module_record(13, "x.dll", (std::string("C:\\") + closing_name).c_str()),
        deep};
    for (const std::uint32_t pid : {4, 8, 12, 13})
        loaded.push_back(module_record(pid, "kernel32.dll", "10.0", 700'000));
    write_file(file("show.wrk"), work_file_bytes(tree, loaded));
    // 150,000 children of one process: more than a browser takes as the
    // arguments of one call.
    std::vector<ProcessRecord> crowd = {process_record(4, "parent.exe")};
    for (std::uint32_t pid = 8; crowd.size() <= 150'000; pid += 4) {
        crowd.push_back(process_record(pid, "child.exe"));
        crowd.back().th32ParentProcessID = 4;
    }
    write_file(file("crowd.wrk"), work_file_bytes(crowd, {}));
    // 2,000 processes that all load one DLL: a list cell longer than a
    // click opens.
    std::vector<ModuleRecord> shared;
    for (std::size_t i = 0; i < 2'000; ++i)
        shared.push_back(module_record(crowd[i].th32ProcessID, "kernel32.dll", "10.0", 1));
    write_file(file("holders.wrk"),
               work_file_bytes({crowd.begin(), crowd.begin() + 2'000}, shared));
    write_file(file("before.wrk"),
               work_file_bytes(
                   {process_record(4, "app.exe"), process_record(9, "gone.exe")},
                   {module_record(4, "a.dll", "1.0", 10), module_record(4, "old.dll", "1.0", 10),
                    module_record(9, "g.dll", "1.0", 10)}));
    write_file(file("after.wrk"),
               work_file_bytes(
                   {process_record(4, "app.exe"), process_record(8, "new.exe")},
                   {module_record(4, "a.dll", "1.1", 12), module_record(4, "new.dll", "1.0", 10),
                    module_record(8, "n.dll", "1.0", 10)}));

    const struct {
        const char* page;
        std::vector<std::string> arguments;
        int status;  // deps fails for what is missing
    } pages[] = {
        {"deps", {"deps", "--system", file("sys"), file("app/app.exe")}, 1},
        {"hostile", {"deps", "--system", file("sys"), file("hostile/evil.exe")}, 1},
        {"show", {"show", file("show.wrk")}, 0},
        {"crowd", {"show", file("crowd.wrk")}, 0},
        {"holders", {"show", file("holders.wrk")}, 0},
        {"diff", {"diff", file("before.wrk"), file("after.wrk")}, 0},
    };
    for (const auto& page : pages) {
        auto arguments = page.arguments;
        arguments.insert(arguments.begin() + 1,
                         {"--html", "-o", file(std::string(page.page) + ".html")});
        const ProgramResult run = korvex_cli(arguments);
        if (run.exit_code != page.status || !std::filesystem::is_regular_file(arguments[3]))
            return std::fprintf(stderr, "korvex %s answered %d: %s\n", page.page, run.exit_code,
                                run.err.c_str()),
                   1;
    }
    return 0;
}
