// `korvex deps` end to end: a MinGW-built program and its bundle, a missing
// entry point, a crafted graph of every case the walk must handle. (Wine's
// own programs against Wine's loader: wine_loaddll_check.py.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "image_readers/pe_image.h"
#include "pe_builder.h"
#include "run_program.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using korvex::test::run_program;
using korvex::test::TempDir;
using nlohmann::json;

korvex::test::ProgramResult korvex_cli(const std::vector<std::string>& arguments) {
    return run_program(KORVEX_CLI_PATH, arguments);
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

#ifdef KORVEX_DEPS_APP_DIR
const fs::path app_dir = KORVEX_DEPS_APP_DIR;

// "--search F" for each MinGW runtime folder, then the rest.
std::vector<std::string> with_runtime_folders(std::vector<std::string> arguments) {
    std::vector<std::string> all = {"deps"};
    std::string folders = KORVEX_MINGW_RUNTIME_FOLDERS;
    for (std::size_t start = 0; start <= folders.size();) {
        const auto end = std::min(folders.find('|', start), folders.size());
        all.insert(all.end(), {"--search", folders.substr(start, end - start)});
        start = end + 1;
    }
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

// A folder holding app.exe and the given DLLs of its build.
void place(const fs::path& folder, const std::vector<std::string>& files) {
    fs::create_directories(folder);
    for (const auto& file : files)
        fs::copy_file(app_dir / file, folder / fs::path(file).filename());
}

TEST(KorvexDeps, CopyToMakesAFolderThatRuns) {
    TempDir dir;
    const fs::path dist = dir.path() / "dist";
    const std::string app = (app_dir / "app.exe").string();
    const auto run = korvex_cli(with_runtime_folders({"--copy-to", dist.string(), app}));
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    std::set<std::string> copied;
    for (const auto& entry : fs::directory_iterator(dist))
        copied.insert(lower(entry.path().filename().string()));
    EXPECT_EQ(copied,
              (std::set<std::string>{"app.exe", "libalpha.dll", "libbeta.dll", "libgcc_s_dw2-1.dll",
                                     "libstdc++-6.dll", "libwinpthread-1.dll"}));
#ifdef _WIN32
    const auto bundled = run_program((dist / "app.exe").string(), {});
    EXPECT_EQ(bundled.exit_code, 0);
    EXPECT_EQ(bundled.out.substr(0, 6), "app 42");
    place(dir.path() / "alone", {"app.exe"});
    EXPECT_NE(run_program((dir.path() / "alone" / "app.exe").string(), {}).exit_code, 0);
#endif

    // Again: the same files are already there. A different one is kept
    // unless --force replaces it.
    EXPECT_EQ(
        korvex_cli(with_runtime_folders({"--list", "--copy-to", dist.string(), app})).exit_code, 0);
    fs::copy_file(app_dir / "short" / "libbeta.dll", dist / "libbeta.dll",
                  fs::copy_options::overwrite_existing);
    const auto refused =
        korvex_cli(with_runtime_folders({"--list", "--copy-to", dist.string(), app}));
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(fs::file_size(dist / "libbeta.dll"),
              fs::file_size(app_dir / "short" / "libbeta.dll"));
    const auto forced =
        korvex_cli(with_runtime_folders({"--list", "--force", "--copy-to", dist.string(), app}));
    EXPECT_EQ(forced.exit_code, 0) << forced.err;
    EXPECT_EQ(fs::file_size(dist / "libbeta.dll"), fs::file_size(app_dir / "libbeta.dll"));
}

// --force replaces a bundled file when the program and the bundle lie on
// one drive (under Wine both on C:, one rename within a volume).
TEST(KorvexDeps, ForceReplacesOnOneDrive) {
    TempDir dir;
    place(dir.path() / "app", {"app.exe", "libalpha.dll", "libbeta.dll"});
    const fs::path dist = dir.path() / "dist";
    const auto copy = with_runtime_folders(
        {"--list", "--copy-to", dist.string(), (dir.path() / "app" / "app.exe").string()});
    ASSERT_EQ(korvex_cli(copy).exit_code, 0);
    fs::copy_file(app_dir / "short" / "libbeta.dll", dist / "libbeta.dll",
                  fs::copy_options::overwrite_existing);
    auto forced = copy;
    forced.push_back("--force");
    const auto run = korvex_cli(forced);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(korvex::test::read_file((dist / "libbeta.dll").string()),
              korvex::test::read_file((app_dir / "libbeta.dll").string()));
}

TEST(KorvexDeps, AMissingFunctionOrModuleFails) {
    TempDir dir;
    const fs::path folder = dir.path() / "short";
    place(folder, {"app.exe", "libalpha.dll", "short/libbeta.dll"});
    const std::string app = (folder / "APP.EXE").string();  // names match in any case
    const auto run = korvex_cli(with_runtime_folders({"--json", app}));
    ASSERT_EQ(run.exit_code, 1) << run.err;
    const json root = json::parse(run.out)["roots"][0];
    EXPECT_EQ(root["missing_modules"].size(), 0u);
    ASSERT_EQ(root["missing_functions"].size(), 1u) << root["missing_functions"];
    EXPECT_EQ(root["missing_functions"][0]["module"], "libbeta.dll");
    EXPECT_EQ(root["missing_functions"][0]["function"], "beta_extra");
    const auto listed = korvex_cli(with_runtime_folders({"--list", app}));
    EXPECT_EQ(listed.exit_code, 1);
    EXPECT_NE(listed.err.find("beta_extra (imported by APP.EXE) is not in libbeta.dll"),
              std::string::npos)
        << listed.err;
#ifdef _WIN32
    // Wine's loader leaves a stub that fails the program when it is called.
    const auto started = run_program((folder / "app.exe").string(), {});
    EXPECT_NE(started.exit_code, 0);
    EXPECT_EQ(started.out.find("app 42"), std::string::npos);
#endif

    const auto alone = korvex_cli(
        {"deps", "--list", (app_dir / "app.exe").string(), "--system", dir.file("none")});
    EXPECT_EQ(alone.exit_code, 1);
    EXPECT_NE(alone.err.find("libstdc++-6.dll"), std::string::npos) << alone.err;
}

// A download cut short anywhere inside its image (short of the last sector the
// loader reads whole) is damaged for inspect and
// deps alike; a payload after the image may be cut at will.
TEST(KorvexDeps, AProgramCutShortIsDamagedAtEveryStep) {
    TempDir dir;
    const auto program = korvex::test::read_file((app_dir / "app.exe").string());
    const auto check = korvex::image::PeImage::parse({program.data(), program.size()}).check();
    ASSERT_EQ(check.fault, korvex::image::ImageCheck::Fault::none);
    std::vector<std::string> cut;
    for (std::uint64_t length = 0x1000; length + 511 < check.image_end; length += 0x1000)
        cut.push_back(dir.write("cut-" + std::to_string(length) + ".exe",
                                {program.begin(), program.begin() + length}));
    ASSERT_GT(cut.size(), 3u);
    std::vector<std::string> inspect = {"inspect"}, deps = {"deps", "--list"};
    inspect.insert(inspect.end(), cut.begin(), cut.end());
    deps.insert(deps.end(), cut.begin(), cut.end());
    const auto inspected = korvex_cli(inspect), walked = korvex_cli(deps);
    EXPECT_EQ(inspected.exit_code, 1);
    EXPECT_EQ(walked.exit_code, 1);
    for (const auto* run : {&inspected, &walked}) {
        std::size_t damaged = 0;
        for (std::size_t at = 0;
             (at = run->err.find("is damaged: cut short", at)) != std::string::npos; ++at)
            ++damaged;
        EXPECT_EQ(damaged, cut.size()) << run->err;
    }
    auto padded = program;
    padded.resize(program.size() + 5000, 0x5A);
    const std::string payload = dir.write(
        "payload.exe", {padded.begin(), padded.begin() + static_cast<long>(program.size()) + 1234});
    const auto kept = korvex_cli({"inspect", payload});
    EXPECT_EQ(kept.exit_code, 0) << kept.err;
}
#endif

// A bundle into a folder holding planted links writes nothing outside the
// folder and changes no linked file, with and without --force.
TEST(KorvexDeps, ABundleNeverWritesThroughWhatStandsInItsFolder) {
    using namespace korvex::test;
    TempDir dir, bundle, outside;
    const auto data = import_data(PeKind::pe32, 0x1000, {{"helper.dll", {by_name("Work")}}});
    PeBuilder program;
    program.section({.virtual_address = 0x1000, .data = data.bytes})
        .directory(1, 0x1000 + data.directory_at);
    const std::string app = dir.write("app.exe", program.build());
    dir.write("helper.dll", pe_image(PeKind::pe32, {}, {"Work"}));
    const std::string victim = outside.write("victim.txt", {'o', 'l', 'd'});
    std::error_code error;
    fs::create_hard_link(victim, bundle.path() / "helper.dll", error);
    ASSERT_FALSE(error) << error.message();
#ifndef _WIN32
    fs::create_symlink(outside.path() / "created-outside.exe", bundle.path() / "app.exe");
#endif
    const std::vector<std::string> copy = {"deps", "--list", "--copy-to", bundle.path().string(),
                                           app};
    const auto refused = korvex_cli(copy);
    EXPECT_EQ(refused.exit_code, 1);
    auto forced = copy;
    forced.push_back("--force");
    const auto replaced = korvex_cli(forced);
    EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(korvex::test::read_file(victim), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(outside.path()), {}), 1) << "only the victim";
    EXPECT_EQ(korvex::test::read_file((bundle.path() / "helper.dll").string()),
              korvex::test::read_file(dir.file("helper.dll")));
    EXPECT_FALSE(fs::is_symlink(bundle.path() / "app.exe"));
}

// The import names in another section than the import table: the loader,
// deps and readpe read them; the library's own rule finds nothing there, and
// inspect says so.
TEST(KorvexDeps, ImportNamesInAnotherSectionResolve) {
    using namespace korvex::test;
    TempDir dir;
    const auto data = import_data(PeKind::pe32, 0x1000, {{"HELPER.dll", {by_name("ExitProcess")}}});
    const auto split = data.bytes.begin() + data.directory_at + 2 * descriptor_size;
    PeBuilder b;
    b.section({.virtual_address = 0x1000, .data = Bytes(data.bytes.begin(), split)})
        .section({.virtual_address = 0x1000 + data.directory_at + 2 * descriptor_size,
                  .data = Bytes(split, data.bytes.end())})
        .directory(1, 0x1000 + data.directory_at);
    const std::string app = dir.write("app.exe", b.build());
    PeBuilder kernel;
    const auto exports = export_data(0x1000, {"ExitProcess"});
    kernel.section({.virtual_address = 0x1000, .data = exports.bytes}).directory(0, 0x1000);
    dir.write("HELPER.dll", kernel.build());
    const auto run = korvex_cli({"deps", "--list", app, "--system", dir.file("none")});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("HELPER.dll"), std::string::npos) << run.out;
    const auto inspected = korvex_cli({"inspect", "--imports", app});
    EXPECT_NE(inspected.out.find("note: the Windows loader reads the imports differently: 1 module "
                                 "(HELPER.dll) where the library lists"),
              std::string::npos)
        << inspected.out;
}

// Programs and DLLs made with the PE builder, laid out as:
//   app/   app.exe, a.dll, b.dll (a and b import each other), fwd.dll,
//          wide.dll (64-bit), bad.dll (not an executable), good.exe
//   more/  wide.dll (32-bit), given with --search
//   sys/   apisetschema.dll, host.dll, given with --system
struct CraftedGraph {
    TempDir dir;
    std::string app, good, more, system;

    CraftedGraph() {
        using namespace korvex::test;
        for (const char* folder : {"app", "more", "sys"})
            fs::create_directories(dir.path() / folder);
        app = dir.file("app/app.exe");
        good = dir.file("app/good.exe");
        more = dir.file("more");
        system = dir.file("sys");
        write_file(app, pe_image(PeKind::pe32,
                                 {{"A.DLL", {by_name("a_fn")}},
                                  {"api-ms-win-test-l1-1-0.dll", {by_name("HostFn")}},
                                  {"ext-ms-win-none-l1-1-0.dll", {by_name("Nothing")}},
                                  {"fwd.dll", {by_name("Loop"), by_name("ToHost"), by_ordinal(2)}},
                                  {"wide.dll", {by_name("w")}},
                                  {"bad.dll", {by_name("b")}}}));
        write_file(dir.file("app/a.dll"),
                   pe_image(PeKind::pe32, {{"b.dll", {by_name("b_fn")}}}, {"a_fn"}));
        write_file(dir.file("app/b.dll"),
                   pe_image(PeKind::pe32, {{"a.dll", {by_name("a_fn")}}}, {"b_fn"}));
        write_file(dir.file("app/fwd.dll"),
                   pe_image(PeKind::pe32, {}, {"Loop", "ToHost"},
                            {"fwd.Loop", "api-ms-win-test-l1-1-0.HostFn"}));
        write_file(dir.file("app/wide.dll"), pe_image(PeKind::pe32_plus, {}, {"w"}));
        write_file(dir.file("more/wide.dll"), pe_image(PeKind::pe32, {}, {"w"}));
        write_file(dir.file("app/bad.dll"), {'M', 'Z', 0, 0});
        write_file(dir.file("sys/host.dll"), pe_image(PeKind::pe32, {}, {"HostFn"}));

        PeBuilder schema;
        schema.section({.virtual_address = 0x1000,
                        .data = api_set_section({{"api-ms-win-test-l1-1-0", {"host.dll"}},
                                                 {"ext-ms-win-none-l1-1-0", {}}}),
                        .name = ".apiset"});
        write_file(dir.file("sys/apisetschema.dll"), schema.build());

        // Needs only host.dll, and lazy.dll (absent) when it first calls it.
        PeBuilder lazy;
        const auto imports = import_data(PeKind::pe32, 0x1000, {{"host.dll", {by_name("HostFn")}}});
        const auto delayed =
            delay_import_data(PeKind::pe32, 0x3000, {{"lazy.dll", {by_name("f")}}});
        lazy.section({.virtual_address = 0x1000, .data = imports.bytes}).directory(1, 0x1000);
        lazy.section({.virtual_address = 0x3000, .data = delayed.bytes})
            .directory(13, 0x3000 + delayed.directory_at);
        write_file(good, lazy.build());
    }

    [[nodiscard]] korvex::test::ProgramResult deps(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"deps", "--search", more, "--system", system});
        return korvex_cli(arguments);
    }
};

const json* module_named(const json& root, const std::string& name) {
    for (const auto& module : root["modules"])
        if (module["name"] == name) return &module;
    return nullptr;
}

TEST(KorvexDeps, CraftedGraphResolvesLikeTheLoader) {
    const CraftedGraph graph;
    const auto run = graph.deps({"--json", graph.app});
    ASSERT_EQ(run.exit_code, 1) << run.err;
    const json root = json::parse(run.out)["roots"][0];
    EXPECT_EQ(root["machine"], "i386");

    const json* a = module_named(root, "A.DLL");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(lower(fs::path((*a)["path"].get<std::string>()).filename().string()), "a.dll");
    EXPECT_EQ((*a)["via"], "program");
    EXPECT_EQ((*a)["imported_by"], json::array({"app.exe", "b.dll"}));
    const json* api = module_named(root, "api-ms-win-test-l1-1-0.dll");
    ASSERT_NE(api, nullptr);
    EXPECT_EQ((*api)["host"], "host.dll");
    // host.dll lies in the system folder, but Windows ships no such DLL.
    EXPECT_EQ((*api)["system"], false);
    EXPECT_EQ((*api)["not_windows"], true);
    EXPECT_EQ((*module_named(root, "host.dll"))["via"], "api-ms-win-test-l1-1-0.dll");
    const json* optional = module_named(root, "ext-ms-win-none-l1-1-0.dll");
    ASSERT_NE(optional, nullptr);
    EXPECT_EQ((*optional)["optional"], true);
    EXPECT_TRUE((*optional)["path"].is_null());
    const json* wide = module_named(root, "wide.dll");
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ((*wide)["via"], "search");

    EXPECT_EQ(root["missing_modules"].size(), 1u);
    EXPECT_EQ(root["missing_modules"][0]["module"], "bad.dll");
    // The forwarder loop is the one function nothing provides; the ordinal
    // and the forwarder to the API set reach host.dll.
    ASSERT_EQ(root["missing_functions"].size(), 1u) << root["missing_functions"];
    EXPECT_EQ(root["missing_functions"][0]["module"], "fwd.dll");
    EXPECT_EQ(root["missing_functions"][0]["function"], "Loop");
    std::set<std::string> skipped;
    for (const auto& file : root["skipped"])
        skipped.insert(file["reason"].get<std::string>().substr(0, 11));
    EXPECT_EQ(skipped, (std::set<std::string>{"found x86-6", "is not a PE"}));

    const auto tree = graph.deps({graph.app});
    EXPECT_EQ(tree.exit_code, 1);
    EXPECT_NE(tree.out.find("missing entry point: Loop in fwd.dll (imported by app.exe)"),
              std::string::npos)
        << tree.out;
    EXPECT_NE(tree.out.find("(already shown)"), std::string::npos);
}

TEST(KorvexDeps, MissingDelayLoadsFailOnlyWithDelay) {
    const CraftedGraph graph;
    const auto run = graph.deps({"--json", graph.good});
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    const json root = json::parse(run.out)["roots"][0];
    ASSERT_EQ(root["missing_modules"].size(), 1u);
    EXPECT_EQ(root["missing_modules"][0]["module"], "lazy.dll");
    EXPECT_EQ(root["missing_modules"][0]["delay"], true);
    EXPECT_EQ((*module_named(root, "host.dll"))["delay"], false);
    EXPECT_EQ(graph.deps({"--delay", "--list", graph.good}).exit_code, 1);
}

// A Wine build in the system folder fails the bundle, uncopied; --list says
// why files were passed over; --why names the chains.
TEST(KorvexDeps, AWineBuildIsNeverBundledAndPassedOverFilesAreNamed) {
    using namespace korvex::test;
    const CraftedGraph graph;
    PeBuilder zlib;
    const auto exports = export_data(0x1000, {"zlibVersion"});
    zlib.lfanew(0x80)
        .section({.virtual_address = 0x1000, .data = exports.bytes})
        .directory(0, 0x1000);
    Bytes built = zlib.build();
    const std::string mark = "Wine builtin DLL";
    std::copy(mark.begin(), mark.end(), built.begin() + 0x40);
    write_file(graph.dir.file("sys/zlib1.dll"), built);
    const std::string zapp = graph.dir.file("app/zapp.exe");
    write_file(zapp, pe_image(PeKind::pe32, {{"zlib1.dll", {by_name("zlibVersion")}}}));
    const std::string bundle = graph.dir.file("bundle");
    const auto copied = graph.deps({"--copy-to", bundle, zapp});
    EXPECT_EQ(copied.exit_code, 1);
    EXPECT_NE(copied.err.find("only Wine's own build of zlib1.dll was found"), std::string::npos)
        << copied.err;
    EXPECT_FALSE(fs::exists(fs::path(bundle) / "zlib1.dll"));

    const auto listed = graph.deps({"--list", graph.app});
    for (const char* said : {"bad.dll (imported by app.exe) was not found: a file of that name was "
                             "passed over: ",
                             "bad.dll is not a PE image", "wide.dll: not taken from ",
                             "wide.dll is built for x86-64."})
        EXPECT_NE(listed.err.find(said), std::string::npos) << said << "\n" << listed.err;
    const auto why = graph.deps({"--why", "b.dll", graph.app});
    EXPECT_EQ(why.exit_code, 0);
    EXPECT_NE(why.out.find("  app.exe -> A.DLL -> b.dll\n"), std::string::npos) << why.out;
}

TEST(KorvexDeps, UsageErrorsExitWithTwo) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"deps"},
                                               {"deps", "--json", "--list", "x.exe"},
                                               {"deps", "--tree", "--list", "x.exe"},
                                               {"deps", "--why", "a.dll", "--json", "x.exe"},
                                               {"deps", "--search"}}) {
        const auto run = korvex_cli(arguments);
        EXPECT_EQ(run.exit_code, 2) << arguments.back();
    }
}

}  // namespace
