// The capture on Linux: /proc as the process and module lists, stat for the
// file facts, and upper-cased paths found again regardless of case.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "korvex32.h"
#include "os/posix/case_insensitive_path.h"
#include "os/posix/proc_readers.h"
#include "os/process_source.h"
#include "snapshot/capture.h"
#include "snapshot/tables.h"
#include "temp_dir.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string this_program() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

std::string local_date(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    return text;
}

class PosixCaptureTest : public testing::Test {
protected:
    void SetUp() override {
        os::set_process_source(nullptr);
        snapshot::ClearSnapShotTables();
    }
    void TearDown() override { snapshot::ClearSnapShotTables(); }
};

TEST_F(PosixCaptureTest, ListsThisProcessAndItsProgramAsAModule) {
    snapshot::CaptureSnapShot();
    const auto& processes = snapshot::process_table();
    const auto& modules = snapshot::module_table();
    const auto self = static_cast<std::uint32_t>(::getpid());

    const ProcessRecord* own = nullptr;
    for (int i = 0; i < processes.count; ++i)
        if (processes.records[i].th32ProcessID == self) own = &processes.records[i];
    ASSERT_NE(own, nullptr);
    const std::string program = this_program();
    EXPECT_EQ(own->dwSize, 296u);
    EXPECT_EQ(std::string(own->szExeFile), program.substr(program.rfind('/') + 1));
    EXPECT_EQ(own->th32ParentProcessID, static_cast<std::uint32_t>(::getppid()));
    EXPECT_GE(own->cntThreads, 1u);
    EXPECT_EQ(own->pcPriClassBase, std::clamp(8 - ::nice(0), 1, 31));

    struct stat facts {};
    ASSERT_EQ(::stat(program.c_str(), &facts), 0);
    const ModuleRecord* program_module = nullptr;
    int own_modules = 0;
    for (int i = 0; i < modules.count; ++i) {
        const ModuleRecord& record = modules.records[i];
        if (record.dwProcessID != self) continue;
        ++own_modules;
        if (upper(program) == record.szPath) program_module = &record;
    }
    EXPECT_GE(own_modules, 2);  // the program and at least the C library
    ASSERT_NE(program_module, nullptr);
    EXPECT_EQ(program_module->dwFileSize, static_cast<std::uint32_t>(facts.st_size));
    EXPECT_EQ(std::string(program_module->szDate), local_date(facts.st_mtime));
    EXPECT_EQ(std::strlen(program_module->szTime), 6u);
    EXPECT_STREQ(program_module->szVersion, "");  // Linux files carry none
    // "korvex_unit_tests" is longer than 12 characters and Linux has no 8.3 names.
    EXPECT_STREQ(program_module->szShortName, "");
}

TEST(ResolveCaseInsensitive, FindsTheNameAsWindowsWould) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "Mixed" / "Inner");
    for (const char* name : {"Mixed/Inner/Lib.So", "Mixed/readme.TXT", "Mixed/README.txt",
                             "Mixed/ABC", "Mixed/abc", "Mixed/\xE9t\xE9.txt"})
        dir.write(name, {1});
    const std::string base = dir.path().string();
    const struct {
        std::string asked;
        bool found;
        std::string real;
    } cases[] = {
        {upper(base + "/Mixed/Inner/Lib.So"), true, base + "/Mixed/Inner/Lib.So"},
        {base + "/Mixed/Inner/Lib.So", true, base + "/Mixed/Inner/Lib.So"},
        {upper(base) + "//MIXED///INNER/", true, base + "/Mixed/Inner"},
        // Several names match: the one as written, else the one in small
        // letters, else the lowest in byte order.
        {upper(base + "/Mixed/ABC"), true, base + "/Mixed/ABC"},
        {upper(base) + "/MIXED/abc", true, base + "/Mixed/abc"},
        {upper(base) + "/MIXED/Abc", true, base + "/Mixed/abc"},
        {upper(base + "/Mixed/README.TXT"), true, base + "/Mixed/README.txt"},
        {upper(base + "/Mixed/ReadMe.txt"), true, base + "/Mixed/README.txt"},
        // Bytes of 128 and above match only themselves.
        {upper(base) + "/MIXED/\xE9T\xE9.TXT", true, base + "/Mixed/\xE9t\xE9.txt"},
        {upper(base) + "/MIXED/\xC9T\xC9.TXT", false, ""},
        {upper(base + "/Mixed/Inner/Lib.So.1"), false, ""},
        {upper(base + "/Missing/Lib.So"), false, ""},
        {"relative/path", false, ""},
        {"", false, ""},
        {"/", true, "/"},
    };
    for (const auto& c : cases) {
        std::string real;
        EXPECT_EQ(os::posix::resolve_case_insensitive(c.asked.c_str(), real), c.found) << c.asked;
        if (c.found) {
            EXPECT_EQ(real, c.real) << c.asked;
        }
    }
}

TEST(ProcMaps, LineNamesAFileOnlyWhenOneIsMapped) {
    const struct {
        const char* line;
        bool maps_file;
        const char* path;
    } cases[] = {
        {"55d0-55d1 r--p 00000000 08:01 1311 /usr/bin/cat\n", true, "/usr/bin/cat"},
        {"7f00-7f01 r-xp 00001000 08:01 42 /opt/with space/lib.so\n", true,
         "/opt/with space/lib.so"},
        {"7f00-7f01 r-xp 00001000 08:01 42 /tmp/old.so (deleted)\n", true, "/tmp/old.so"},
        {"7f00-7f01 rw-p 00000000 00:00 0 \n", false, ""},
        {"7f00-7f01 rw-p 00000000 00:00 0\n", false, ""},
        {"7f00-7f01 rw-p 00000000 00:00 0 [heap]\n", false, ""},
        {"7ffd-7ffe r-xp 00000000 00:00 0 [vdso]\n", false, ""},
        {"7f00-7f01 rw-s 00000000 00:05 0 /dev/zero (deleted)\n", false, ""},
        {"7f00-7f01 r--s 00000000 00:01 2053 /memfd:sealed-1 (deleted)\n", false, ""},
        {"7f00-7f01 rw-s 00000000 00:01 32768 /SYSV00000000 (deleted)\n", false, ""},
        {"7f00-7f01 rw-s 00000000 00:05 77 /dev/dri/card0\n", false, ""},
        {"7f00-7f01 rw-p 00000000 00:0f 1 /anon_hugepage (deleted)\n", false, ""},
        {"7f00-7f01 r--p 00000000 08:01 9 /devices.txt\n", true, "/devices.txt"},
        {"garbage", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string path;
        EXPECT_EQ(os::posix::mapped_file_of_line(c.line, path), c.maps_file) << c.line;
        if (c.maps_file) {
            EXPECT_EQ(path, c.path) << c.line;
        }
    }
}

TEST(ProcMaps, ListsEachFileOnceInOrderOfFirstMapping) {
    std::vector<os::posix::MappedModuleFile> files;
    ASSERT_TRUE(os::posix::read_mapped_module_files(static_cast<std::uint32_t>(::getpid()), files));
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(files.front().path, this_program());  // the program is mapped first
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_GE(files[i].mappings, 1u);
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(files[i].path, files[j].path);
    }
    EXPECT_FALSE(os::posix::read_mapped_module_files(0xFFFFFFF0u, files));
}

TEST(ProcEntries, ProcessIdsComeFromNumericNamesOnly) {
    const struct {
        const char* name;
        bool is_process;
        std::uint32_t id;
    } cases[] = {
        {"1", true, 1},           {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0}, {"self", false, 0},
        {".", false, 0},          {"", false, 0},
        {"12a", false, 0},        {"-1", false, 0},
    };
    for (const auto& c : cases) {
        std::uint32_t id = 0;
        EXPECT_EQ(os::posix::process_id_from_name(c.name, id), c.is_process) << c.name;
        if (c.is_process) {
            EXPECT_EQ(id, c.id) << c.name;
        }
    }
}

TEST(ProcEntries, EntryOfAnEndedProcessCannotBeRead) {
    ProcessRecord entry{};
    EXPECT_FALSE(os::posix::read_process_entry(0xFFFFFFF0u, entry));
    entry.dwSize = 296;
    ASSERT_TRUE(os::posix::read_process_entry(static_cast<std::uint32_t>(::getpid()), entry));
    EXPECT_EQ(entry.dwSize, 296u);  // the caller's size stays
}

TEST(PosixFileFacts, SearchShortPathTimeAndVersionOfARealFile) {
    TempDir dir;
    const std::string path = dir.write("Facts.Bin", std::vector<std::uint8_t>(1000, 7));
    // 2 January 1997, 13:05:00 UTC.
    const std::time_t written = 852210300;
    const struct timespec times[2] = {{written, 0}, {written, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    os::ProcessSource& platform = os::platform_process_source();

    os::FoundFile found;
    ASSERT_TRUE(platform.find_file(upper(path).c_str(), found));
    EXPECT_EQ(found.size_low, 1000u);
    EXPECT_EQ(found.size_high, 0u);
    EXPECT_STREQ(found.alternate_name, "");
    EXPECT_EQ(found.last_write, (852210300ull + 11644473600ull) * 10000000ull);
    EXPECT_FALSE(platform.find_file(upper(path + ".missing").c_str(), found));

    os::CalendarTime local;
    ASSERT_TRUE(platform.local_time(found.last_write, local));
    std::tm expected{};
    localtime_r(&written, &expected);
    EXPECT_EQ(local.year, expected.tm_year + 1900);
    EXPECT_EQ(local.month, expected.tm_mon + 1);
    EXPECT_EQ(local.day, expected.tm_mday);
    EXPECT_EQ(local.hour, expected.tm_hour);
    EXPECT_EQ(local.minute, expected.tm_min);
    EXPECT_FALSE(platform.local_time(1ull << 63, local));

    // No 8.3 names: the short form is the path as asked, when it exists.
    const std::string asked = upper(path);
    char buffer[261];
    EXPECT_EQ(platform.short_path(asked.c_str(), buffer, sizeof buffer), asked.size());
    EXPECT_EQ(asked, buffer);
    EXPECT_EQ(platform.short_path(asked.c_str(), buffer, static_cast<std::uint32_t>(asked.size())),
              asked.size() + 1);
    EXPECT_EQ(platform.short_path((asked + "X").c_str(), buffer, sizeof buffer), 0u);

    os::FileVersion version;
    EXPECT_EQ(platform.file_version(asked.c_str(), version), os::VersionLookup::no_version_data);
}

TEST(PosixLists, ModuleListOfAMissingProcessCannotBeMade) {
    EXPECT_EQ(os::platform_process_source().open_modules(0xFFFFFFF0u), 0);
}

}  // namespace
}  // namespace korvex::test

#endif  // _WIN32
