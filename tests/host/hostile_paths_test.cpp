// Names and work directories at and past their limits, through the DLL
// under Wine: names of 0, 50, 51 and 1,000 characters and with bytes of 128
// and above; directories of 502, 503, 515 and 2,000 characters; a directory
// given with a trailing backslash; null pointers for every pointer argument.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "guarded_path.h"
#include "loaded_library.h"
#include "null_arguments.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using korvex::test::GuardedPath;

std::string work_file_of(const std::string& name) {
    GuardedPath buffer(name);
    return get_work_file(buffer.bytes) == 0 && buffer.guard_intact() ? std::string(buffer.bytes)
                                                                     : std::string();
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class HostilePathsHost : public testing::Test {
protected:
    korvex::test::TempDir dir_;
    std::string work_ = dir_.path().string();
    void SetUp() override { set_rows_per_call(1); }
    void TearDown() override { init_snapshots(""); }
};

TEST_F(HostilePathsHost, NamesOfEveryLengthAndByteReachTheirSnapshot) {
    ASSERT_EQ(init_snapshots(work_.c_str()), 0);
    const struct {
        std::string given;
        std::string same_snapshot;  // another spelling that must reach it
    } cases[] = {
        {"", std::string()},
        {std::string(50, 'n'), std::string(50, 'n') + "tail"},
        {std::string(51, 'o'), std::string(50, 'o')},
        {std::string(1000, 'p'), std::string(50, 'p')},
        {"\xE9t\xE9 \xFF\x80", "\xE9t\xE9 \xFF\x80"},
    };
    int counter = 0;
    for (const auto& c : cases) {
        ASSERT_EQ(take_snapshot(c.given.c_str()), 0) << c.given.size();
        const std::string path = work_file_of(c.same_snapshot);
        char expected[32];
        std::snprintf(expected, sizeof expected, "\\snp%05d.wrk", counter++);
        EXPECT_EQ(path, work_ + expected) << c.given.size();
        EXPECT_TRUE(exists(path)) << c.given.size();
        ASSERT_EQ(clear_current_snapshot(), 0);
        EXPECT_EQ(select_snapshot(c.same_snapshot.c_str()), 0) << c.given.size();
        ProcessRecord process;
        EXPECT_EQ(read_processes(&process), 1) << c.given.size();
    }
    EXPECT_EQ(select_snapshot("\xC9t\xC9 \xFF\x80"), KORVEX_SNAPSHOT_NOT_FOUND)
        << "bytes compare as bytes";
    for (const auto& c : cases) {
        const std::string path = work_file_of(c.given);
        EXPECT_EQ(delete_snapshot(c.given.c_str()), 0) << c.given.size();
        EXPECT_FALSE(exists(path)) << c.given.size();
    }
}

// Windows' ANSI file calls take at most 259 characters, so under every one
// of these directories the work file cannot be created: the take answers -2
// and its records stay readable; paths that fit in 515 characters are handed
// out whole, longer ones cut to 515 and never more than 516 bytes written.
TEST_F(HostilePathsHost, DirectoriesOf502To2000Characters) {
    for (std::size_t length : {502u, 503u, 515u, 2000u}) {
        std::string directory = work_;
        while (directory.size() < length)
            directory +=
                "\\" + std::string(std::min<std::size_t>(100, length - directory.size() - 1), 'd');
        ASSERT_EQ(init_snapshots(directory.c_str()), 0);
        EXPECT_EQ(take_snapshot("long"), KORVEX_WORKFILE_CREATE_FAILED) << length;
        ProcessRecord process;
        EXPECT_EQ(read_processes(&process), 1) << length << ": the capture stays readable";

        // A path over 515 characters is handed out empty, never cut.
        const std::string whole = directory.substr(0, 515) + "\\snp00000.wrk";
        const bool fits = whole.size() <= 515;
        EXPECT_EQ(work_file_of("long"), fits ? whole : "") << length;
        GuardedPath made("placed");
        ASSERT_EQ(new_work_file(made.bytes), 0);
        EXPECT_TRUE(made.guard_intact()) << length;
        EXPECT_EQ(std::strlen(made.bytes), fits ? whole.size() : 0) << length;

        ASSERT_EQ(clear_current_snapshot(), 0);
        EXPECT_EQ(select_snapshot("long"), KORVEX_WORKFILE_LOAD_FAILED) << length;
        EXPECT_EQ(read_processes(&process), KORVEX_READ_END) << length;
        EXPECT_EQ(delete_snapshot("long"), 0) << length;
    }
}

// Existing work directories whose work-file paths (313 and 515 characters)
// are past the 259 that Windows' by-name ANSI calls take: the file is written
// whole (0), read back, and deleted with its snapshot. The folders are made
// and looked at through the wide calls' \\?\ form, which has no such limit.
std::wstring long_form(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

TEST_F(HostilePathsHost, AnExistingDirectoryPastTheAnsiLimitWritesReadsAndDeletes) {
    for (std::size_t length : {300u, 502u}) {
        std::vector<std::string> folders;
        std::string directory = work_;
        while (directory.size() < length) {
            directory +=
                "\\" + std::string(std::min<std::size_t>(100, length - directory.size() - 1), 'e');
            ASSERT_TRUE(CreateDirectoryW(long_form(directory).c_str(), nullptr))
                << directory.size();
            folders.push_back(directory);
        }
        ASSERT_EQ(init_snapshots(directory.c_str()), 0);
        EXPECT_EQ(take_snapshot("long"), KORVEX_OK) << length;
        const std::string path = work_file_of("long");
        EXPECT_EQ(path, directory + "\\snp00000.wrk") << length;
        EXPECT_NE(GetFileAttributesW(long_form(path).c_str()), INVALID_FILE_ATTRIBUTES) << length;

        ASSERT_EQ(clear_current_snapshot(), 0);
        EXPECT_EQ(select_snapshot("long"), KORVEX_OK) << length;
        ProcessRecord process;
        EXPECT_EQ(read_processes(&process), 1) << length;
        EXPECT_EQ(delete_snapshot("long"), KORVEX_OK) << length;
        EXPECT_EQ(GetFileAttributesW(long_form(path).c_str()), INVALID_FILE_ATTRIBUTES)
            << length << ": the work file stayed";
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
            RemoveDirectoryW(long_form(*folder).c_str());
    }
}

TEST_F(HostilePathsHost, ATrailingBackslashGivesTwoBeforeTheNameAndStillWorks) {
    ASSERT_EQ(init_snapshots((work_ + "\\").c_str()), 0);
    ASSERT_EQ(take_snapshot("trailing"), 0);
    const std::string path = work_file_of("trailing");
    EXPECT_EQ(path, work_ + "\\\\snp00000.wrk");
    // The platform reads the doubled separator as one.
    EXPECT_TRUE(exists(work_ + "\\snp00000.wrk"));
    ASSERT_EQ(take_snapshot("other"), 0);
    EXPECT_EQ(select_snapshot("trailing"), 0) << "reloaded through the doubled separator";
    ProcessRecord process;
    EXPECT_EQ(read_processes(&process), 1);
    EXPECT_EQ(delete_snapshot("trailing"), 0);
    EXPECT_FALSE(exists(work_ + "\\snp00000.wrk"));
}

TEST_F(HostilePathsHost, NullArgumentsGetTheirDocumentedAnswers) {
    korvex::test::expect_null_arguments_answered(korvex_exports(), work_);
}

}  // namespace
}  // namespace korvex::host_test
