// The file facts of a ModuleRecord: short path, size, local date and time,
// version (read only when the capture is asked to), and what a record holds
// when they cannot be had.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "capture_test_fixture.h"
#include "library_probes.h"
#include "snapshot/capture.h"

namespace korvex::test {
namespace {

using FileFactsTest = CaptureTest;

constexpr char kPath[] = "C:\\WINDOWS\\SYSTEM\\LONGLIBRARY.DLL";
constexpr char kShortPath[] = "C:\\WINDOWS\\SYSTEM\\LONGLI~1.DLL";

// The date is month/day/year with leading zeros; the time keeps the 24-hour
// clock and adds "a" or "p".
TEST_F(FileFactsTest, DateAndTimeTexts) {
    const struct {
        os::CalendarTime written;
        const char* date;
        const char* time;
    } cases[] = {
        {{1997, 1, 2, 0, 0}, "01/02/1997", "00:00a"},
        {{1997, 1, 2, 0, 10}, "01/02/1997", "00:10a"},
        {{1997, 1, 2, 9, 5}, "01/02/1997", "09:05a"},
        {{1997, 1, 2, 12, 0}, "01/02/1997", "12:00a"},
        {{1997, 1, 2, 12, 30}, "01/02/1997", "12:30a"},
        {{1997, 1, 2, 12, 59}, "01/02/1997", "12:59a"},
        {{1997, 1, 2, 13, 0}, "01/02/1997", "13:00p"},
        {{1997, 1, 2, 13, 5}, "01/02/1997", "13:05p"},
        {{1997, 1, 2, 23, 59}, "01/02/1997", "23:59p"},
        {{2024, 12, 31, 8, 0}, "12/31/2024", "08:00a"},
        {{1601, 1, 1, 8, 0}, "01/01/1601", "08:00a"},
        {{999, 3, 4, 8, 0}, "03/04/0999", "08:00a"},
        {{9999, 12, 31, 8, 0}, "12/31/9999", "08:00a"},
        // Years of five digits are written as the last four-digit year.
        {{10000, 1, 1, 8, 0}, "01/01/9999", "08:00a"},
        {{30827, 7, 8, 8, 0}, "07/08/9999", "08:00a"},
        {{65535, 12, 31, 8, 0}, "12/31/9999", "08:00a"},
    };
    for (const auto& c : cases) {
        start_over();
        fake.add_file(kPath).written = c.written;
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_STREQ(record.szDate, c.date) << c.written.year;
        EXPECT_STREQ(record.szTime, c.time) << c.written.hour << ":" << c.written.minute;
    }
}

TEST_F(FileFactsTest, DateAndTimeAreTwoTextsSideBySide) {
    fake.add_file(kPath).written = {1997, 1, 2, 13, 5};
    const ModuleRecord record = capture_one_module("L.DLL", kPath);
    const auto* bytes = reinterpret_cast<const char*>(&record);
    EXPECT_EQ(std::string(bytes + 52), "01/02/1997");
    EXPECT_EQ(bytes[62], '\0');
    EXPECT_EQ(std::string(bytes + 63), "13:05p");
    EXPECT_EQ(bytes[69], '\0');
}

TEST_F(FileFactsTest, SizesOfFourGibibytesAndMoreReadAsAllOnes) {
    const struct {
        std::uint64_t size;
        std::uint32_t expected;
    } cases[] = {
        {0, 0},
        {0xFFFFFFFEull, 0xFFFFFFFEu},
        {0xFFFFFFFFull, 0xFFFFFFFFu},
        {0x100000000ull, 0xFFFFFFFFu},
        {0x100000001ull, 0xFFFFFFFFu},
        {0x7FFFFFFF00000000ull, 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        start_over();
        fake.add_file(kPath).size = c.size;
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_EQ(record.dwFileSize, c.expected) << c.size;
    }
}

TEST_F(FileFactsTest, WhatARecordHoldsWhenFactsCannotBeHad) {
    const std::string long_short_path = "C:\\" + std::string(258, 'S');  // 261 characters
    const std::string longest_short_path = long_short_path.substr(0, 260);
    const struct {
        const char* what;
        bool exists;
        bool short_path_fails;
        std::string short_path;
        bool time_fails;
        os::VersionLookup version;
        // expected
        std::string path;
        const char* short_name;
        std::uint32_t size;
        const char* date;
        const char* version_text;
    } cases[] = {
        {"all there", true, false, kShortPath, false, os::VersionLookup::found, kShortPath,
         "LONGLI~1.DLL", 99, "01/02/1997", "1.2.3.4"},
        {"file missing", false, false, "", false, os::VersionLookup::found, kPath, "", 0, "", ""},
        {"short path fails", true, true, "", false, os::VersionLookup::found, kPath, "LONGLI~1.DLL",
         0, "", ""},
        {"short path of 260 characters", true, false, longest_short_path, false,
         os::VersionLookup::found, longest_short_path, "LONGLI~1.DLL", 99, "01/02/1997", "1.2.3.4"},
        {"short path of 261 characters", true, false, long_short_path, false,
         os::VersionLookup::found, kPath, "LONGLI~1.DLL", 0, "", ""},
        {"time conversion fails", true, false, kShortPath, true, os::VersionLookup::found,
         kShortPath, "LONGLI~1.DLL", 99, "", "1.2.3.4"},
        {"no version data", true, false, kShortPath, false, os::VersionLookup::no_version_data,
         kShortPath, "LONGLI~1.DLL", 99, "01/02/1997", ""},
        {"no fixed version block", true, false, kShortPath, false,
         os::VersionLookup::no_fixed_block, kShortPath, "LONGLI~1.DLL", 99, "01/02/1997", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        start_over();
        if (c.exists) {
            FakeFile& file = fake.add_file(kPath);
            file.alternate_name = "LONGLI~1.DLL";
            file.size = 99;
            file.short_path = c.short_path;
            file.short_path_fails = c.short_path_fails;
            file.time_conversion_fails = c.time_fails;
            file.with_version(0x00010002, 0x00030004).version_lookup = c.version;
        }
        const ModuleRecord record = capture_one_module("LONGLIBRARY.DLL", kPath);
        EXPECT_EQ(std::string(record.szPath), c.path);
        EXPECT_STREQ(record.szShortName, c.short_name);
        EXPECT_EQ(record.dwFileSize, c.size);
        EXPECT_STREQ(record.szDate, c.date);
        EXPECT_STREQ(record.szTime, c.date[0] != '\0' ? "13:05p" : "");
        EXPECT_STREQ(record.szVersion, c.version_text);
        // The version is read from the short form, and not at all without one.
        EXPECT_EQ(fake.version_reads.empty(), c.path == kPath);
        if (!fake.version_reads.empty()) {
            EXPECT_EQ(fake.version_reads.begin()->first, c.path);
        }
    }
}

// Four numbers cut to 19 characters when there is a fixed version block, an
// empty text without one or without version data.
TEST_F(FileFactsTest, VersionTextIsFourNumbersOrEmptyWithoutAFixedBlock) {
    const struct {
        std::uint32_t most, least;
        const char* expected;
        os::VersionLookup lookup = os::VersionLookup::found;
    } cases[] = {
        {0x00040000, 0x000003B6, "4.0.0.950"},
        {0, 0, "0.0.0.0"},
        {0x000A0014, 0x001E0028, "10.20.30.40"},
        {0xFFFFFFFF, 0x028F028F, "65535.65535.655.655"},  // 19: fits exactly
        {0xFFFFFFFF, 0x0D31028F, "65535.65535.3377.65"},  // 20: the last digit goes
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.6"},  // 23: four digits go
        {0x00010000, 0, "1.0.0.0"},
        {0x00010000, 0, "", os::VersionLookup::no_fixed_block},
        {0x00010000, 0, "", os::VersionLookup::no_version_data},
    };
    for (const auto& c : cases) {
        fake = FakeProcessSource{};
        fake.add_file(kPath).with_version(c.most, c.least).version_lookup = c.lookup;
        char text[20];
        std::memset(text, 'x', sizeof text);
        snapshot::GetFileVersionText(kPath, text);
        EXPECT_STREQ(text, c.expected);
    }
    char text[20] = "stale text";
    snapshot::GetFileVersionText("C:\\NO\\SUCH.DLL", text);
    EXPECT_STREQ(text, "");
}

TEST_F(FileFactsTest, ReadModuleFileFactsFillsOnlyTheFactFields) {
    FakeFile& file = fake.add_file(kPath);
    file.short_path = kShortPath;
    file.alternate_name = "LONGLI~1.DLL";
    file.size = 4096;
    ModuleRecord record{};
    record.dwProcessID = 77;
    record.dwGlblcntUsage = 3;
    record.dwProccntUsage = 2;
    std::strcpy(record.szShortName, "KEEP.DLL");
    std::strcpy(record.szPath, kPath);
    snapshot::ReadModuleFileFacts(record);
    EXPECT_EQ(record.dwProcessID, 77u);
    EXPECT_EQ(record.dwGlblcntUsage, 3u);
    EXPECT_EQ(record.dwProccntUsage, 2u);
    EXPECT_STREQ(record.szShortName, "KEEP.DLL");  // only an empty name is replaced
    EXPECT_STREQ(record.szPath, kShortPath);
    EXPECT_EQ(record.dwFileSize, 4096u);
    EXPECT_STREQ(record.szDate, "01/02/1997");
}

using VersionSwitchTest = CaptureTest;

constexpr char kVersionedPath[] = "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL";

TEST_F(VersionSwitchTest, AnswersTheValueItWasGiven) {
    for (const std::int32_t flag : {7, 0, 2, -1, INT_MAX, INT_MIN, 1})
        EXPECT_EQ(SetGetVersionNumber(flag), flag);
}

// TakeSnapShot asks with the switch SetGetVersionNumber sets (registry_test.cpp).
TEST_F(VersionSwitchTest, VersionsAreReadOnlyWhenTheCaptureIsAskedTo) {
    for (const bool read_versions : {false, true}) {
        start_over();
        fake.add_file(kVersionedPath).with_version(0x0004000A, 0x000007CE);
        const ModuleRecord record =
            capture_one_module("KERNEL32.DLL", kVersionedPath, read_versions);
        EXPECT_STREQ(record.szVersion, read_versions ? "4.10.0.1998" : "") << read_versions;
        EXPECT_EQ(fake.version_reads.size(), read_versions ? 1u : 0u) << read_versions;
        // The other facts do not depend on it.
        EXPECT_STREQ(record.szDate, "01/02/1997") << read_versions;
    }
}

}  // namespace
}  // namespace korvex::test
