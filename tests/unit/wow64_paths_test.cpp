// How the 64-bit capture (and the 64-bit korvex) read the files a 32-bit
// process names: the rule for each path, and the records a capture makes of
// one path named by a 32-bit and by a 64-bit process.
#include <gtest/gtest.h>

#include <string>

#include "capture_test_fixture.h"
#include "os/wow64_paths.h"

namespace korvex::test {
namespace {

const os::SystemFolders kFolders{"C:\\windows\\system32", "C:\\windows\\syswow64"};

TEST(Wow64Paths, PathsInTheSystemFolderAreReadInThe32BitOne) {
    const struct {
        const char* path;
        os::SystemFolders folders;
        const char* read;  // null: read as it is
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL", kFolders, "C:\\windows\\syswow64\\KERNEL32.DLL"},
        {"c:\\Windows\\System32\\a\\b.dll", kFolders, "C:\\windows\\syswow64\\a\\b.dll"},
        {"C:\\WINDOWS\\SYSWOW64\\KERNEL32.DLL", kFolders, nullptr},
        {"C:\\WINDOWS\\SYSTEM32X\\A.DLL", kFolders, nullptr},
        {"C:\\WINDOWS\\SYSTEM32", kFolders, nullptr},
        {"D:\\WINDOWS\\SYSTEM32\\A.DLL", kFolders, nullptr},
        {"C:\\APPS\\TOOL.EXE", kFolders, nullptr},
        // The subfolders every process sees alike.
        {"C:\\WINDOWS\\SYSTEM32\\SPOOL\\DRIVERS\\W32X86\\3\\UNIDRV.DLL", kFolders, nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\ETC\\HOSTS", kFolders, nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\DRIVERS\\X.SYS", kFolders,
         "C:\\windows\\syswow64\\DRIVERS\\X.SYS"},
        {"C:\\WINDOWS\\SYSTEM32\\CATROOT2\\X", kFolders, nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\CATROOT3\\X", kFolders, "C:\\windows\\syswow64\\CATROOT3\\X"},
        // No 32-bit system folder (a 32-bit Windows, or natively).
        {"C:\\WINDOWS\\SYSTEM32\\A.DLL", {"C:\\windows\\system32", ""}, nullptr},
        {"C:\\WINDOWS\\SYSTEM32\\A.DLL", {}, nullptr},
    };
    for (const auto& c : cases) {
        char out[261] = "untouched";
        const os::Wow64Path moved =
            os::path_seen_by_32bit_process(c.path, c.folders, out, sizeof out);
        EXPECT_EQ(moved.moved, c.read != nullptr) << c.path;
        EXPECT_EQ(std::string(out), c.read != nullptr ? c.read : "untouched") << c.path;
        if (moved.moved) EXPECT_EQ(moved.named_folder, 19u) << c.path;
    }
    // A moved path that would not fit is read as it is.
    const std::string long_path = "C:\\WINDOWS\\SYSTEM32\\" + std::string(240, 'A');
    char out[261];
    EXPECT_FALSE(os::path_seen_by_32bit_process(long_path.c_str(), kFolders, out, 260).moved);
}

TEST(Wow64Paths, ShortPathsKeepTheFolderTheProcessNamed) {
    const os::Wow64Path moved{true, 19, 2};
    const struct {
        const char* read_short;
        const char* named_short;
        const char* expected;  // null: false
    } cases[] = {
        {"C:\\WINDOWS\\SYSWOW64\\API-MS~1.DLL", "C:\\WINDOWS\\SYSTEM32",
         "C:\\WINDOWS\\SYSTEM32\\API-MS~1.DLL"},
        {"c:\\windows\\syswow64\\sub\\x.dll", "C:\\WINDOWS\\SYSTEM32",
         "C:\\WINDOWS\\SYSTEM32\\sub\\x.dll"},
        {"C:\\WINDOWS\\SYSWOW64", "C:\\WINDOWS\\SYSTEM32", nullptr},
        {"C:\\X.DLL", "C:\\WINDOWS\\SYSTEM32", nullptr},
    };
    for (const auto& c : cases) {
        char out[261] = {};
        EXPECT_EQ(os::respell_short_path(c.read_short, moved, c.named_short, out, sizeof out),
                  c.expected != nullptr)
            << c.read_short;
        if (c.expected != nullptr) EXPECT_STREQ(out, c.expected);
    }
}

// One path named by a 32-bit and by a 64-bit process is two files: each
// record has the facts of the file its process loaded and the path the
// process named.
TEST_F(CaptureTest, A32BitProcessesSystemModulesAreReadFromThe32BitFolder) {
    fake.add_process(8, "C:\\APPS\\OLD.EXE")
        .add_module("KERNEL32.DLL", "C:\\Windows\\System32\\kernel32.dll");
    fake.processes.back().sees_wow64_folders = true;
    fake.add_process(9, "C:\\APPS\\NEW.EXE")
        .add_module("KERNEL32.DLL", "C:\\Windows\\System32\\kernel32.dll");
    fake.add_file("C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL").size = 2148419;
    fake.add_file("C:\\WINDOWS\\SYSTEM32");
    fake.add_file("C:\\WINDOWS\\SYSWOW64\\KERNEL32.DLL").with_version(0x00060001, 0).size = 1871823;
    snapshot::CaptureSnapShot(true);
    const auto all = modules();
    ASSERT_EQ(all.size(), 2u);
    for (const ModuleRecord& record : all) {
        const bool old = record.dwProcessID == 8;
        EXPECT_EQ(record.dwFileSize, old ? 1871823u : 2148419u) << record.dwProcessID;
        EXPECT_STREQ(record.szVersion, old ? "6.1.0.0" : "") << record.dwProcessID;
        EXPECT_STREQ(record.szPath, "C:\\WINDOWS\\SYSTEM32\\KERNEL32.DLL") << record.dwProcessID;
    }
}

}  // namespace
}  // namespace korvex::test
