// How the capture walks processes and modules: what it keeps of each entry,
// what happens when a list cannot be had, that every list is closed, and
// that each file is looked up once per capture; and how a ModuleRecord gets
// its name and path (the 12-character rule for szShortName, the upper-casing
// of szPath).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "capture_test_fixture.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

using WalkTest = CaptureTest;

std::string numbered(const char* prefix, int number, const char* suffix) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%d%s", prefix, number, suffix);
    return text;
}

TEST_F(WalkTest, ProcessEntryIsKeptByteForByte) {
    FakeProcess& process = fake.add_process(0x1234, "C:\\APPS\\TOOL.EXE");
    process.entry.cntUsage = 1;
    process.entry.th32DefaultHeapID = 0xABCDEF01;
    process.entry.th32ModuleID = 5;
    process.entry.cntThreads = 9;
    process.entry.th32ParentProcessID = 0x42;
    process.entry.pcPriClassBase = -3;
    process.entry.dwFlags = 0x80000000;
    std::memset(process.entry.szExeFile + 20, 'q', 100);  // bytes after the terminator too
    snapshot::CaptureSnapShot();
    const auto listed = processes();
    ASSERT_EQ(listed.size(), 1u);
    ProcessRecord expected = process.entry;
    expected.dwSize = 296;
    EXPECT_EQ(std::memcmp(&listed[0], &expected, sizeof expected), 0);
    // dwSize is 296 on the first request and stays so for the whole walk.
    EXPECT_EQ(fake.process_entry_sizes, (std::vector<std::uint32_t>{296, 296}));
}

TEST_F(WalkTest, ModuleRecordTakesItsProcessAndUsageCounts) {
    fake.add_process(0x30, "TOOL.EXE").add_module("TOOL.EXE", "C:\\TOOL.EXE");
    fake.processes[0].modules[0].global_usage = 0xFFFF;
    fake.processes[0].modules[0].process_usage = 3;
    fake.add_file("C:\\TOOL.EXE");
    snapshot::CaptureSnapShot();
    const auto listed = modules();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].dwProcessID, 0x30u);
    EXPECT_EQ(listed[0].dwGlblcntUsage, 0xFFFFu);
    EXPECT_EQ(listed[0].dwProccntUsage, 3u);
    EXPECT_EQ(listed[0].reserved, 0);
}

TEST_F(WalkTest, ProcessWithoutModuleListIsStillListed) {
    fake.add_process(8, "A.EXE").add_module("A.EXE", "C:\\A.EXE");
    fake.add_process(12, "GONE.EXE").module_list_fails = true;
    fake.add_process(16, "C.EXE").add_module("C.EXE", "C:\\C.EXE");
    snapshot::CaptureSnapShot();
    const auto listed = processes();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_STREQ(listed[2].szExeFile, "GONE.EXE");
    const auto loaded = modules();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].dwProcessID, 8u);
    EXPECT_EQ(loaded[1].dwProcessID, 16u);
}

TEST_F(WalkTest, ModuleListsAreAskedForInWalkOrderWithIdsUnchanged) {
    fake.add_process(0, "[System Process]");
    fake.add_process(0xFFFFFFFC, "HIGH.EXE");
    fake.add_process(4, "System");
    snapshot::CaptureSnapShot();
    EXPECT_EQ(fake.module_lists_asked, (std::vector<std::uint32_t>{0, 0xFFFFFFFC, 4}));
}

TEST_F(WalkTest, EveryListOpenedIsClosedAndNoListMeansEmptyTables) {
    const struct {
        const char* what;
        bool process_list_fails;
        bool with_processes;
        int opened;
        int processes;
    } cases[] = {
        {"no process list", true, true, 0, 0},
        {"an empty process list", false, false, 1, 0},
        // A module list with a module, one without, and one that fails.
        {"three processes", false, true, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start_over();
        fake.process_list_fails = c.process_list_fails;
        if (c.with_processes) {
            fake.add_process(8, "A.EXE").add_module("A.EXE", "C:\\A.EXE");
            fake.add_process(12, "B.EXE");
            fake.add_process(16, "C.EXE").module_list_fails = true;
        }
        snapshot::CaptureSnapShot();
        EXPECT_EQ(fake.lists_opened, c.opened);
        EXPECT_EQ(fake.lists_closed, c.opened);
        EXPECT_EQ(fake.unknown_lists_closed, 0);
        EXPECT_EQ(snapshot::process_table().count, c.processes);
        EXPECT_EQ(snapshot::module_table().count, c.processes > 0 ? 1 : 0);
    }
}

TEST_F(WalkTest, TablesGrowPastManyBlocksInOneCapture) {
    for (std::uint32_t id = 1; id <= 45; ++id) {
        FakeProcess& process =
            fake.add_process(id * 4, numbered("P", static_cast<int>(id), ".EXE"));
        process.add_module("SHARED.DLL", "C:\\SHARED.DLL").add_module("OWN.DLL", "C:\\OWN.DLL");
    }
    snapshot::CaptureSnapShot();
    EXPECT_EQ(processes().size(), 45u);
    EXPECT_EQ(modules().size(), 90u);
}

TEST_F(WalkTest, EachFileIsLookedUpOncePerCaptureWithIdenticalResults) {
    FakeFile& file = fake.add_file("C:\\W\\SHARED.DLL");
    file.short_path = "C:\\W\\SHARED~1.DLL";
    file.alternate_name = "SHARED~1.DLL";
    file.size = 777;
    file.with_version(0x00020003, 0x00040005);
    fake.add_process(8, "A.EXE").add_module("SharedLibrary.dll", "c:\\w\\shared.dll");
    fake.add_process(12, "B.EXE").add_module("SharedLibrary.dll", "C:\\W\\SHARED.DLL");
    fake.add_process(16, "C.EXE").add_module("shared.dll", "C:\\w\\Shared.dll");
    snapshot::CaptureSnapShot();
    EXPECT_EQ(fake.searches["C:\\W\\SHARED.DLL"], 1);
    EXPECT_EQ(fake.version_reads["C:\\W\\SHARED~1.DLL"], 1);
    const auto loaded = modules();
    ASSERT_EQ(loaded.size(), 3u);
    // The cached facts apply the 12-character rule to each module's own name.
    EXPECT_STREQ(loaded[0].szShortName, "SHARED~1.DLL");
    EXPECT_STREQ(loaded[1].szShortName, "SHARED~1.DLL");
    EXPECT_STREQ(loaded[2].szShortName, "shared.dll");
    for (const ModuleRecord& record : loaded) {
        EXPECT_STREQ(record.szPath, "C:\\W\\SHARED~1.DLL");
        EXPECT_EQ(record.dwFileSize, 777u);
        EXPECT_STREQ(record.szVersion, "2.3.4.5");
        EXPECT_STREQ(record.szDate, "01/02/1997");
        EXPECT_STREQ(record.szTime, "13:05p");
    }
    EXPECT_EQ(std::memcmp(&loaded[0].dwFileSize, &loaded[1].dwFileSize,
                          sizeof(ModuleRecord) - offsetof(ModuleRecord, dwFileSize)),
              0);
}

TEST_F(WalkTest, CacheLivesForOneCaptureOnly) {
    fake.add_process(8, "A.EXE").add_module("X.DLL", "C:\\X.DLL").add_module("G.DLL", "C:\\G.DLL");
    fake.add_process(12, "B.EXE").add_module("X.DLL", "C:\\X.DLL").add_module("G.DLL", "C:\\G.DLL");
    fake.add_file("C:\\X.DLL").size = 1;
    snapshot::CaptureSnapShot();
    EXPECT_EQ(fake.searches["C:\\X.DLL"], 1);
    EXPECT_EQ(fake.searches["C:\\G.DLL"], 1);  // a missing file is remembered too

    // The next capture looks again and sees the file as it is now.
    fake.files["C:\\X.DLL"].size = 2;
    snapshot::ClearSnapShotTables();
    snapshot::CaptureSnapShot();
    EXPECT_EQ(fake.searches["C:\\X.DLL"], 2);
    ASSERT_EQ(modules().size(), 4u);
    EXPECT_EQ(modules()[3].dwFileSize, 2u);
}

TEST_F(WalkTest, ManyDistinctFilesAreEachLookedUpOnce) {
    // More files than the cache's first block holds, loaded by two processes.
    FakeProcess& first = fake.add_process(8, "A.EXE");
    for (int i = 0; i < 300; ++i) {
        const std::string path = numbered("C:\\LIB\\M", i, ".DLL");
        first.add_module(numbered("M", i, ".DLL"), path);
        fake.add_file(path).size = static_cast<std::uint64_t>(i);
    }
    fake.processes.push_back(fake.processes[0]);
    fake.processes[1].entry.th32ProcessID = 12;
    snapshot::CaptureSnapShot();
    ASSERT_EQ(modules().size(), 600u);
    for (const auto& [path, count] : fake.searches) EXPECT_EQ(count, 1) << path;
    for (const ModuleRecord& record : modules()) {
        const std::string name = record.szShortName;
        EXPECT_EQ(std::to_string(record.dwFileSize), name.substr(1, name.size() - 5)) << name;
    }
}

TEST_F(WalkTest, CacheWithoutStorageGivesTheSameRecords) {
    auto build = [](FakeProcessSource& source) {
        source.add_process(8, "A.EXE").add_module("X.DLL", "C:\\X.DLL");
        source.add_process(12, "B.EXE").add_module("X.DLL", "C:\\X.DLL");
        FakeFile& file = source.add_file("C:\\X.DLL");
        file.size = 5;
        file.with_version(0x00010000, 0);
    };
    build(fake);
    snapshot::CaptureSnapShot();
    const auto cached = modules();
    ASSERT_EQ(cached.size(), 2u);

    // Allocations of this capture: the process table's first block, then
    // the cache's first block, then the module table's first block.
    start_over();
    build(fake);
    snapshot::fail_storage_after(2);
    snapshot::CaptureSnapShot();
    EXPECT_EQ(fake.searches["C:\\X.DLL"], 2);  // not kept, so looked up again
    ASSERT_EQ(modules().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(std::memcmp(&modules()[i], &cached[i], sizeof(ModuleRecord)), 0) << i;
    EXPECT_EQ(processes().size(), 2u);
}

using NameTest = CaptureTest;

TEST_F(NameTest, ShortNameFollowsTheTwelveCharacterRule) {
    const struct {
        const char* what;
        std::string module_name;
        std::string alternate_name;  // of the module's file
        bool file_exists;
        const char* expected;
    } cases[] = {
        {"12 characters are kept", "ABCDEFGH.DLL", "ABCDEF~1.DLL", true, "ABCDEFGH.DLL"},
        {"the case is kept", "kernel32.dll", "", true, "kernel32.dll"},
        {"one character is kept", "A", "", true, "A"},
        {"13 characters give the 8.3 name", "ABCDEFGHI.DLL", "ABCDEF~1.DLL", true, "ABCDEF~1.DLL"},
        {"a long name whose file name is 8.3 ends empty", "LongModuleName.dll", "", true, ""},
        {"an empty module name gives the 8.3 name", "", "LONGFI~1.DLL", true, "LONGFI~1.DLL"},
        {"a long name of a missing file ends empty", "ABCDEFGHI.DLL", "", false, ""},
        {"a short name of a missing file is kept", "MISSING.DLL", "", false, "MISSING.DLL"},
        // An 8.3 name has at most 12 characters, but the field takes what the
        // file system gives, up to 13 and the terminator.
        {"a 13-character short name fits its field", "ALONGMODULENAME.DLL", "ABCDEFGHIJKLM", true,
         "ABCDEFGHIJKLM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start_over();
        const std::string path = "C:\\APPS\\" + std::string(c.module_name.empty() ? "X" : "Y");
        if (c.file_exists) fake.add_file(path).alternate_name = c.alternate_name;
        const ModuleRecord record = capture_one_module(c.module_name, path);
        EXPECT_STREQ(record.szShortName, c.expected);
    }
}

// Bytes of 128 and above (here e with grave accent in code page 1252) and
// every sign stay as they are; the longest path is kept whole.
TEST_F(NameTest, PathIsUpperCasedForTheLettersAToZOnly) {
    const struct {
        std::string given, upper;
        const char* module_name;
    } cases[] = {
        {"c:\\Program Files\\syst\xE8me-[1]_~\\a{b}.dll",
         "C:\\PROGRAM FILES\\SYST\xE8ME-[1]_~\\A{B}.DLL", "a{b}.dll"},
        // 259 characters, all the entry holds.
        {"C:\\" + std::string(254, 'd') + ".D", "C:\\" + std::string(254, 'D') + ".D", "X.D"},
    };
    for (const auto& c : cases) {
        start_over();
        fake.add_file(c.upper);
        const ModuleRecord record = capture_one_module(c.module_name, c.given);
        EXPECT_EQ(fake.searches.count(c.upper), 1u) << c.module_name;
        EXPECT_EQ(fake.searches.count(c.given), 0u) << c.module_name;
        EXPECT_EQ(std::string(record.szPath), c.upper);
        EXPECT_STREQ(record.szShortName, c.module_name);
    }
}

}  // namespace
}  // namespace korvex::test
