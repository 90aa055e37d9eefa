// A bundle made natively against Wine's DLL folder holds what the program
// needs and Windows does not ship (zlib1.dll, VCRUNTIME140.dll), and runs
// under Wine with Wine's own copies of those DLLs hidden. The system folder
// is Wine's, with its zlib1.dll and vcruntime140.dll swapped for copies that
// are not Wine's built-in ones (a Wine-built DLL cannot be loaded as the
// program's own once its built-in copy is hidden).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "korvex_cli.h"
#include "run_program.h"
#include "temp_dir.h"

#if defined(KORVEX_ZLIB1_DLL) && defined(KORVEX_DEPS_APP_DIR)

namespace {

namespace fs = std::filesystem;
using korvex::test::lower;
using korvex::test::run_program;
using korvex::test::ScopedVariable;
using korvex::test::TempDir;
using nlohmann::json;

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(lower(entry.path().filename().string()));
    return names;
}

// Wine's DLL folder with the two swapped, as links to all the rest.
fs::path system_folder_in(const fs::path& parent, const fs::path& builds) {
    const fs::path system = parent / "system";
    fs::create_directories(system);
    for (const auto& entry : fs::directory_iterator(KORVEX_WINE_DLL_FOLDER)) {
        const std::string name = lower(entry.path().filename().string());
        if (name != "zlib1.dll" && name != "vcruntime140.dll")
            fs::create_symlink(entry.path(), system / entry.path().filename());
    }
    fs::copy_file(KORVEX_ZLIB1_DLL, system / "zlib1.dll");
    fs::copy_file(builds / "vcruntime140.dll", system / "vcruntime140.dll");
    return system;
}

korvex::test::ProgramResult wine(const std::vector<std::string>& arguments) {
    const ScopedVariable build("KORVEX_WINE_BUILD_DIR", KORVEX_BUILD_DIR);
    return run_program(KORVEX_WINE_RUN, arguments);
}

// Wine's own zlib1.dll and vcruntime140.dll hidden from zapp.exe alone:
// Wine's user32 needs its zlib1.dll, so hiding it from every process (as
// WINEDLLOVERRIDES would) breaks Wine's own programs.
void hide_wines_copies_from_zapp() {
    for (const char* dll : {"zlib1", "vcruntime140"}) {
        const auto added =
            wine({"reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\zapp.exe\\DllOverrides", "/v",
                  dll, "/d", "native", "/f"});
        ASSERT_EQ(added.exit_code, 0) << added.out << added.err;
    }
}

TEST(KorvexDepsBundle, WhatWindowsDoesNotShipIsBundledAndRunsWithWinesCopiesHidden) {
    TempDir dir;
    const fs::path builds = fs::path(KORVEX_DEPS_APP_DIR) / "zlib";
    const fs::path system = system_folder_in(dir.path(), builds);
    const fs::path program = dir.path() / "program";
    fs::create_directories(program);
    for (const char* file : {"zapp.exe", "vcmod.dll"}) fs::copy_file(builds / file, program / file);

    const fs::path bundle = dir.path() / "bundle";
    const auto run =
        run_program(KORVEX_CLI_PATH, {"deps", "--json", "--system", system.string(), "--copy-to",
                                      bundle.string(), (program / "zapp.exe").string()});
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(names_in(bundle),
              (std::set<std::string>{"zapp.exe", "vcmod.dll", "zlib1.dll", "vcruntime140.dll"}));
    std::set<std::string> marked;
    const json answer = json::parse(run.out);
    for (const auto& module : answer["roots"][0]["modules"])
        if (module.value("not_windows", false)) marked.insert(lower(module["name"]));
    EXPECT_EQ(marked, (std::set<std::string>{"zlib1.dll", "vcruntime140.dll"}));

    hide_wines_copies_from_zapp();
    const auto bundled = wine({(bundle / "zapp.exe").string()});
    EXPECT_EQ(bundled.exit_code, 0) << bundled.err;
    EXPECT_EQ(bundled.out.rfind("zapp ", 0), 0u) << bundled.out;
    EXPECT_NE(bundled.out.find(" 42"), std::string::npos) << bundled.out;
    // Without the bundled copies the program cannot start: Wine's are hidden.
    EXPECT_NE(wine({(program / "zapp.exe").string()}).exit_code, 0);
}

}  // namespace

#endif
