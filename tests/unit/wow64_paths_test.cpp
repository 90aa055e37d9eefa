// Where the 64-bit capture (and korvex) read the files a 32-bit process names.
#include <gtest/gtest.h>

#include <string>

#include "capture_test_fixture.h"
#include "os/wow64_paths.h"

namespace korvex::test {
namespace {

TEST(Wow64Paths, PathsInTheSystemFolderAreReadInThe32BitOne) {
    const os::SystemFolders folders{"C:\\windows\\system32", "C:\\windows\\syswow64"};
    const std::string too_long_once_moved = "C:\\WINDOWS\\SYSTEM32\\" + std::string(241, 'A');
    const struct {
        const char* path;
        const char* read;  // null: read as it is
    } cases[] = {
        {"c:\\Windows\\System32\\a\\b.dll", "C:\\windows\\syswow64\\a\\b.dll"},
        {"C:\\WINDOWS\\SYSTEM32X\\A.DLL", nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\SPOOL\\DRIVERS\\W32X86\\3\\UNIDRV.DLL", nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ETC\\HOSTS", nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\X.SYS", "C:\\windows\\syswow64\\DRIVERS\\X.SYS"},
        {too_long_once_moved.c_str(), nullptr},
    };
    for (const auto& c : cases) {
        char out[261] = "untouched";
        EXPECT_EQ(os::path_seen_by_32bit_process(c.path, folders, out, sizeof out).moved,
                  c.read != nullptr);
        EXPECT_STREQ(out, c.read != nullptr ? c.read : "untouched") << c.path;
    }
    EXPECT_FALSE(os::path_seen_by_32bit_process(cases[0].path, {"C:\\x", ""}, nullptr, 0).moved);
}

// One path named by a 32-bit and by a 64-bit process is two files, each
// recorded in the folder named with the facts and 8.3 name of the file read.
TEST_F(CaptureTest, A32BitProcessesSystemModulesAreReadFromThe32BitFolder) {
    const char* named = "C:\\Windows\\System32\\Api-Ms-Win-Core.dll";
    fake.add_process(8, "OLD.EXE").add_module("API-MS-WIN-CORE.DLL", named);
    fake.wow64_processes = {8};
    fake.add_process(9, "NEW.EXE").add_module("API-MS-WIN-CORE.DLL", named);
    fake.add_file("C:\\WINDOWS\\SYSTEM32\\API-MS-WIN-CORE.DLL").short_path =
        "C:\\W\\S\\API-MS~1.DLL";
    fake.add_file("C:\\WINDOWS\\SYSTEM32").short_path = "C:\\W\\S";
    fake.add_file("C:\\WINDOWS\\SYSWOW64\\API-MS-WIN-CORE.DLL")
        .with_version(0x60001, 0)
        .short_path = "C:\\W\\SYSWOW64\\API-MS~2.DLL";
    snapshot::CaptureSnapShot(true);
    for (const ModuleRecord& record : modules()) {
        const bool moved = record.dwProcessID == 8;
        EXPECT_STREQ(record.szVersion, moved ? "6.1.0.0" : "");
        EXPECT_STREQ(record.szPath, moved ? "C:\\W\\S\\API-MS~2.DLL" : "C:\\W\\S\\API-MS~1.DLL");
    }
    EXPECT_EQ(modules().size(), 2u);
}

}  // namespace
}  // namespace korvex::test
