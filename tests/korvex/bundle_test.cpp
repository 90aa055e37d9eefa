// deps --copy-to copies the file the walk read, through one handle, or
// nothing: whatever is put at a resolved DLL's path between the walk and the
// copy (the seam between resolve and copy_bundle) is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "deps/bundle.h"
#include "deps/dependency_graph.h"
#include "korvex_cli.h"
#include "pe_builder.h"
#include "temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvex::test {
namespace {

namespace fs = std::filesystem;

TEST(Bundle, CopiesOnlyTheFileTheWalkRead) {
    struct SwapCase {
        const char* name;
        std::function<void(const TempDir& dir, const std::string& other)> swap;
        bool copied;
    };
    const auto replace_by_link = [](const TempDir& dir, const std::string& other) {
        fs::remove(dir.path() / "helper.dll");
        fs::create_symlink(other, dir.path() / "helper.dll");
    };
    const SwapCase cases[] = {
        {"left alone", [](const TempDir&, const std::string&) {}, true},
        {"another file renamed over it",
         [](const TempDir& dir, const std::string& other) {
             fs::copy_file(other, dir.path() / "new.dll");
             fs::rename(dir.path() / "new.dll", dir.path() / "helper.dll");
         },
         false},
#ifndef _WIN32
        // Wine's own links are tested end to end; here the system's.
        {"a link to a file only its owner may read", replace_by_link, false},
        {"a FIFO, which a read would wait on for ever",
         [](const TempDir& dir, const std::string&) {
             fs::remove(dir.path() / "helper.dll");
             ASSERT_EQ(mkfifo(dir.file("helper.dll").c_str(), 0600), 0);
         },
         false},
#endif
    };
    (void)replace_by_link;
    for (const auto& test : cases) {
        TempDir dir, bundle, outside;
        const auto data = import_data(PeKind::pe32, 0x1000, {{"helper.dll", {by_name("Work")}}});
        PeBuilder program;
        program.section({.virtual_address = 0x1000, .data = data.bytes})
            .directory(1, 0x1000 + data.directory_at);
        const std::string app = dir.write("app.exe", program.build());
        const auto helper = pe_image(PeKind::pe32, {}, {"Work"});
        dir.write("helper.dll", helper);
        auto secret = helper;
        secret.push_back('!');
        const std::string other = outside.write("secret.dll", secret);

        host::ModuleFiles files;
        host::DependencyResolver resolver(files, {{}, dir.file("nosys"), {}});
        const std::vector<host::DependencyGraph> graphs = {resolver.resolve(app)};
        ASSERT_TRUE(graphs[0].problem.empty()) << test.name;
        test.swap(dir, other);
        EXPECT_EQ(host::copy_bundle(graphs, bundle.path().string(), false), test.copied)
            << test.name;
        const fs::path copy = bundle.path() / "helper.dll";
        if (test.copied)
            EXPECT_EQ(read_file(copy.string()), helper) << test.name;
        else
            EXPECT_FALSE(fs::exists(fs::symlink_status(copy))) << test.name;
    }
}

#ifndef _WIN32
// A DIR other users may change is refused before anything is copied, unless
// --force, as the temporary folder is.
TEST(Bundle, RefusesAFolderOthersMayChangeUnlessForced) {
    TempDir dir, bundle;
    const std::string app = dir.write("app.exe", pe_image(PeKind::pe32, {}, {}));
    host::ModuleFiles files;
    host::DependencyResolver resolver(files, {{}, dir.file("nosys"), {}});
    const std::vector<host::DependencyGraph> graphs = {resolver.resolve(app)};
    fs::permissions(bundle.path(), fs::perms(0777));
    EXPECT_FALSE(host::copy_bundle(graphs, bundle.path().string(), false));
    EXPECT_TRUE(fs::is_empty(bundle.path()));
    EXPECT_TRUE(host::copy_bundle(graphs, bundle.path().string(), true));
    EXPECT_TRUE(fs::exists(bundle.path() / "app.exe"));
}
#endif

}  // namespace
}  // namespace korvex::test
