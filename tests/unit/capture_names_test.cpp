// How a ModuleRecord gets its name and path: the 12-character rule for
// szShortName and the upper-casing of szPath.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture_test_fixture.h"

namespace korvex::test {
namespace {

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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        const std::string path = "C:\\APPS\\" + std::string(c.module_name.empty() ? "X" : "Y");
        if (c.file_exists) fake.add_file(path).alternate_name = c.alternate_name;
        const ModuleRecord record = capture_one_module(c.module_name, path);
        EXPECT_STREQ(record.szShortName, c.expected);
    }
}

TEST_F(NameTest, ThirteenCharacterShortNameFitsItsField) {
    // An 8.3 name has at most 12 characters, but the field takes what the
    // file system gives, up to 13 and the terminator.
    fake.add_file("C:\\A\\F").alternate_name = "ABCDEFGHIJKLM";
    const ModuleRecord record = capture_one_module("ALONGMODULENAME.DLL", "C:\\A\\F");
    EXPECT_STREQ(record.szShortName, "ABCDEFGHIJKLM");
}

TEST_F(NameTest, PathIsUpperCasedForTheLettersAToZOnly) {
    // Bytes of 128 and above (here e with grave accent in code page 1252)
    // and every sign stay as they are.
    const std::string given = "c:\\Program Files\\syst\xE8me-[1]_~\\a{b}.dll";
    const std::string upper = "C:\\PROGRAM FILES\\SYST\xE8ME-[1]_~\\A{B}.DLL";
    fake.add_file(upper);
    const ModuleRecord record = capture_one_module("a{b}.dll", given);
    EXPECT_EQ(fake.searches.count(upper), 1u);
    EXPECT_EQ(fake.searches.count(given), 0u);
    EXPECT_EQ(std::string(record.szPath), upper);
    EXPECT_STREQ(record.szShortName, "a{b}.dll");
}

TEST_F(NameTest, LongestPathIsKeptWhole) {
    const std::string path = "C:\\" + std::string(254, 'd') + ".D";  // 259, all the entry holds
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    fake.add_file(upper);
    const ModuleRecord record = capture_one_module("X.D", path);
    EXPECT_EQ(std::string(record.szPath), upper);
}

}  // namespace
}  // namespace korvex::test
