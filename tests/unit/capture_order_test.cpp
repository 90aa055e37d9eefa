// The order of a capture's records: SplitPath, both comparisons, and the
// sorted tables a capture leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture_test_fixture.h"
#include "snapshot/record_order.h"

namespace korvex::test {
namespace {

using namespace snapshot;

int sign(int value) { return (value > 0) - (value < 0); }

ProcessRecord process_named(const std::string& exe_file) {
    ProcessRecord record{};
    record.dwSize = sizeof record;
    std::memcpy(record.szExeFile, exe_file.data(),
                std::min(exe_file.size(), sizeof record.szExeFile));
    return record;
}

struct ExpectedModule {
    const char* name;
    const char* path;
    std::uint32_t process;
};

// The module table after a capture, record by record.
void expect_modules(const std::vector<ExpectedModule>& expected) {
    const auto& table = module_table();
    ASSERT_EQ(table.count, static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_STREQ(table.records[i].szShortName, expected[i].name) << i;
        EXPECT_STREQ(table.records[i].szPath, expected[i].path) << i;
        EXPECT_EQ(table.records[i].dwProcessID, expected[i].process) << i;
    }
}

ModuleRecord module_named(const char* short_name, const char* path) {
    ModuleRecord record{};
    std::strcpy(record.szShortName, short_name);
    std::strcpy(record.szPath, path);
    return record;
}

TEST(SplitPath, SplitsAtTheLastBackslashOrColon) {
    const struct {
        const char* path;
        const char* directory;
        const char* name;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\TOOL.EXE", "C:\\WINDOWS\\SYSTEM", "TOOL.EXE"},
        {"C:\\TOOL.EXE", "C:", "TOOL.EXE"},
        {"C:TOOL.EXE", "C:", "TOOL.EXE"},
        {"TOOL.EXE", "", "TOOL.EXE"},
        {"C:\\WINDOWS\\", "C:\\WINDOWS", ""},
        {"\\TOOL.EXE", "", "TOOL.EXE"},
        {"\\", "", ""},
        {":", ":", ""},
        {"", "", ""},
        {"C:\\A:B", "C:\\A:", "B"},
        {"\\\\SERVER\\SHARE\\X.EXE", "\\\\SERVER\\SHARE", "X.EXE"},
        {"/usr/bin/tool", "", "/usr/bin/tool"},  // a slash is no separator
    };
    for (const auto& c : cases) {
        char directory[path_part_size];
        char name[path_part_size];
        std::memset(directory, 'x', sizeof directory);
        std::memset(name, 'x', sizeof name);
        SplitPath(c.path, directory, name);
        EXPECT_STREQ(directory, c.directory) << c.path;
        EXPECT_STREQ(name, c.name) << c.path;
    }
}

TEST(SplitPath, KeepsWholeNamesOfTheLongestField) {
    const std::string bare(260, 'N');  // a full szExeFile without terminator
    char directory[path_part_size];
    char name[path_part_size];
    SplitPath(process_named(bare).szExeFile, directory, name);
    EXPECT_STREQ(directory, "");
    EXPECT_EQ(std::string(name), bare);

    const std::string deep = std::string(258, 'D') + "\\N";
    SplitPath(process_named(deep).szExeFile, directory, name);
    EXPECT_EQ(std::string(directory), std::string(258, 'D'));
    EXPECT_STREQ(name, "N");
}

TEST(CompareProcessRecords, OrdersByFileNameThenDirectoryInByteOrder) {
    const struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"ZETA.EXE", "alpha.exe", -1},                  // capitals before small letters
        {"C:\\Z\\A.EXE", "C:\\A\\B.EXE", -1},           // the name decides first
        {"C:\\APPS\\X.EXE", "C:\\WINDOWS\\X.EXE", -1},  // then the directory
        {"C:\\APPS\\X.EXE", "X.EXE", 1},                // an empty directory first
        {"C:X.EXE", "C:\\X.EXE", 0},                    // both split into C: and X.EXE
        {"A.EX", "A.EXE", -1},                          // a prefix first
        {"1.EXE", "A.EXE", -1},                         // a digit before a letter
        {"Z.EXE", "\xE9.EXE", -1},                      // bytes compare unsigned
        {"C:\\A\\TOOL.EXE", "C:\\A\\TOOL.EXE", 0},
        {"", "A.EXE", -1},
    };
    for (const auto& c : cases) {
        const ProcessRecord a = process_named(c.a), b = process_named(c.b);
        EXPECT_EQ(sign(CompareProcessRecords(a, b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(CompareProcessRecords(b, a)), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(CompareProcessRecords, LongBareNamesCompareToTheirLastCharacter) {
    std::string a(259, 'N'), b(259, 'N');
    b.back() = 'O';
    EXPECT_LT(CompareProcessRecords(process_named(a), process_named(b)), 0);
    std::string c(260, 'N'), d(260, 'N');  // no terminator in the field
    d.back() = 'O';
    EXPECT_LT(CompareProcessRecords(process_named(c), process_named(d)), 0);
    EXPECT_EQ(CompareProcessRecords(process_named(c), process_named(c)), 0);
}

TEST(CompareModuleRecords, OrdersByShortNameThenShortPath) {
    const struct {
        ModuleRecord a, b;
        int expected;
    } cases[] = {
        {module_named("ZETA", "C:\\Z"), module_named("alpha", "C:\\A"), -1},
        {module_named("X.DLL", "C:\\B\\X.DLL"), module_named("X.DLL", "C:\\A\\X.DLL"), 1},
        {module_named("X.DLL", "C:\\A\\X.DLL"), module_named("X.DLL", "C:\\A\\X.DLL"), 0},
        {module_named("", "C:\\Z"), module_named("A", "C:\\A"), -1},
        {module_named("AB", "C:\\A"), module_named("ABC", "C:\\A"), -1},
        {module_named("\xC0", "C:\\A"), module_named("z", "C:\\A"), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign(CompareModuleRecords(c.a, c.b)), c.expected) << c.a.szShortName;
        EXPECT_EQ(sign(CompareModuleRecords(c.b, c.a)), -c.expected) << c.a.szShortName;
    }
}

using CaptureOrderTest = CaptureTest;

TEST_F(CaptureOrderTest, CaptureLeavesProcessesSortedAndEqualOnesInWalkOrder) {
    fake.add_process(40, "C:\\WINDOWS\\X.EXE");
    fake.add_process(12, "alpha.exe");
    fake.add_process(8, "C:\\APPS\\X.EXE");
    fake.add_process(16, "ZETA.EXE");
    fake.add_process(20, "C:\\Z\\A.EXE");
    fake.add_process(24, "ZETA.EXE");  // started from the same file as 16
    fake.add_process(4, "ZETA.EXE");
    // Enough equal records, between others, that an unstable sort would mix them.
    for (std::uint32_t id = 1000; id < 1060; ++id) {
        fake.add_process(id, "SAME.EXE");
        fake.add_process(5000 - id, id % 2 ? "B.EXE" : "Y.EXE");
    }
    snapshot::CaptureSnapShot();
    const auto sorted = processes();
    ASSERT_EQ(sorted.size(), 127u);
    std::vector<std::uint32_t> named, same;
    for (const ProcessRecord& record : sorted) {
        if (std::strcmp(record.szExeFile, "SAME.EXE") == 0) same.push_back(record.th32ProcessID);
        if (record.th32ProcessID < 1000) named.push_back(record.th32ProcessID);
    }
    EXPECT_EQ(named, (std::vector<std::uint32_t>{20, 8, 40, 16, 24, 4, 12}));
    ASSERT_EQ(same.size(), 60u);
    for (std::uint32_t i = 0; i < 60; ++i) EXPECT_EQ(same[i], 1000 + i);
}

TEST_F(CaptureOrderTest, CaptureLeavesModulesSortedAndInterleavedAcrossProcesses) {
    fake.add_process(8, "B.EXE")
        .add_module("zlib.dll", "C:\\B\\ZLIB.DLL")
        .add_module("KERNEL32.DLL", "C:\\W\\KERNEL32.DLL")
        .add_module("B.EXE", "C:\\B\\B.EXE");
    fake.add_process(4, "A.EXE")
        .add_module("A.EXE", "C:\\A\\A.EXE")
        .add_module("KERNEL32.DLL", "C:\\W\\KERNEL32.DLL")
        .add_module("zlib.dll", "C:\\A\\ZLIB.DLL");
    for (const char* path : {"C:\\B\\ZLIB.DLL", "C:\\W\\KERNEL32.DLL", "C:\\B\\B.EXE",
                             "C:\\A\\A.EXE", "C:\\A\\ZLIB.DLL"})
        fake.add_file(path);
    snapshot::CaptureSnapShot();
    expect_modules({
        {"A.EXE", "C:\\A\\A.EXE", 4},
        {"B.EXE", "C:\\B\\B.EXE", 8},
        {"KERNEL32.DLL", "C:\\W\\KERNEL32.DLL", 8},  // equal records: walk order
        {"KERNEL32.DLL", "C:\\W\\KERNEL32.DLL", 4},
        {"zlib.dll", "C:\\A\\ZLIB.DLL", 4},
        {"zlib.dll", "C:\\B\\ZLIB.DLL", 8},
    });
}

TEST_F(CaptureOrderTest, ModulesSortByTheNamesAndPathsTheirRecordsHold) {
    // The sort runs on the finished records: a long module name has given
    // way to its file's 8.3 name, and every path is in its short form, so
    // neither the module's own name nor its long path decides.
    const struct {
        const char* module_name;
        const char* long_path;
        const char* alternate_name;
        const char* short_path;
    } files[] = {
        {"ZZZZZZZZZZZZZ.DLL", "C:\\LIB\\ZZZZZZZZZZZZZ.DLL", "AAAAAA~1.DLL",
         "C:\\LIB\\AAAAAA~1.DLL"},
        {"B.DLL", "C:\\AAA LONG DIRECTORY\\B.DLL", "", "C:\\ZZZ~1\\B.DLL"},
        {"B.DLL", "C:\\ZZZ\\B.DLL", "", "C:\\ZZZ\\B.DLL"},
        {"A LONG MODULE NAME.DLL", "C:\\LIB\\C.DLL", "", "C:\\LIB\\C.DLL"},
    };
    FakeProcess& process = fake.add_process(4, "A.EXE");
    for (const auto& file : files) {
        process.add_module(file.module_name, file.long_path);
        FakeFile& known = fake.add_file(file.long_path);
        known.alternate_name = file.alternate_name;
        known.short_path = file.short_path;
    }
    snapshot::CaptureSnapShot();
    expect_modules({
        {"", "C:\\LIB\\C.DLL", 4},  // a long name of an 8.3 file: empty, so first
        {"AAAAAA~1.DLL", "C:\\LIB\\AAAAAA~1.DLL", 4},
        {"B.DLL", "C:\\ZZZ\\B.DLL", 4},
        {"B.DLL", "C:\\ZZZ~1\\B.DLL", 4},
    });
}

}  // namespace
}  // namespace korvex::test
