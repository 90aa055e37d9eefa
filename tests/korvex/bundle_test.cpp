// deps --copy-to copies the file the walk read, through one handle, or
// nothing: whatever is put at a resolved DLL's path between the walk and the
// copy (the seam between resolve and copy_bundle) is refused, and so is a
// DIR other users may change, unless --force.
#include <gtest/gtest.h>

#include <filesystem>

#include "deps/bundle.h"
#include "korvex_cli.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvex::test {
namespace {

namespace fs = std::filesystem;

enum class Swap { none, renamed_over, link, fifo, open_folder };

TEST(Bundle, CopiesOnlyTheFileTheWalkRead) {
    const std::pair<Swap, bool> cases[] = {
        {Swap::none, true},  {Swap::renamed_over, false},
#ifndef _WIN32  // Wine's links and FIFOs are the system's, made natively
        {Swap::link, false}, {Swap::fifo, false},         {Swap::open_folder, false},
#endif
    };
    for (const auto& [swap, copied] : cases) {
        TempDir dir, bundle, outside;
        const auto helper = pe_image(PeKind::pe32, {}, {"Work"});
        auto secret = helper;
        secret.push_back('!');
        const std::string other = outside.write("secret.dll", secret), at = dir.file("helper.dll");
        const std::string app =
            dir.write("app.exe", pe_image(PeKind::pe32, {{"helper.dll", {by_name("Work")}}}, {}));
        dir.write("helper.dll", helper);
        host::ModuleFiles files;
        host::DependencyResolver resolver(files, {{}, dir.file("nosys"), {}});
        const std::vector<host::DependencyGraph> graphs = {resolver.resolve(app)};
        if (swap == Swap::renamed_over) fs::rename(outside.write("new.dll", secret), at);
        if (swap == Swap::link || swap == Swap::fifo) fs::remove(at);
        if (swap == Swap::link) fs::create_symlink(other, at);
#ifndef _WIN32
        if (swap == Swap::fifo) {
            ASSERT_EQ(mkfifo(at.c_str(), 0600), 0);
        }
#endif
        if (swap == Swap::open_folder) fs::permissions(bundle.path(), fs::perms(0777));
        const int kind = static_cast<int>(swap);
        EXPECT_EQ(host::copy_bundle(graphs, bundle.path().string(), false), copied) << kind;
        const fs::path copy = bundle.path() / "helper.dll";
        EXPECT_EQ(fs::exists(fs::symlink_status(copy)), copied) << kind;
        if (copied) {
            EXPECT_EQ(read_file(copy.string()), helper);
        }
        // --force uses a folder others may change all the same.
        if (swap == Swap::open_folder) {
            EXPECT_TRUE(host::copy_bundle(graphs, bundle.path().string(), true));
        }
    }
}

}  // namespace
}  // namespace korvex::test
