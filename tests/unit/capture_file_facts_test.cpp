// The file facts of a ModuleRecord: short path, size, local date and time,
// version, and what a record holds when they cannot be had.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture_test_fixture.h"
#include "snapshot/module_file_facts.h"

namespace korvex::test {
namespace {

using FileFactsTest = CaptureTest;

constexpr char kPath[] = "C:\\WINDOWS\\SYSTEM\\LONGLIBRARY.DLL";
constexpr char kShortPath[] = "C:\\WINDOWS\\SYSTEM\\LONGLI~1.DLL";

TEST_F(FileFactsTest, TimeKeepsTheTwentyFourHourClockWithAOrP) {
    const struct {
        std::uint16_t hour, minute;
        const char* expected;
    } cases[] = {
        {0, 0, "00:00a"},  {0, 10, "00:10a"},  {9, 5, "09:05a"},  {12, 0, "12:00a"},
        {12, 30, "12:30a"}, {12, 59, "12:59a"}, {13, 0, "13:00p"}, {13, 5, "13:05p"},
        {23, 59, "23:59p"},
    };
    for (const auto& c : cases) {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        fake.add_file(kPath).written = {1997, 1, 2, c.hour, c.minute};
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_STREQ(record.szTime, c.expected) << c.hour << ":" << c.minute;
    }
}

TEST_F(FileFactsTest, DateIsMonthDayYearWithLeadingZeros) {
    const struct {
        std::uint16_t year, month, day;
        const char* expected;
    } cases[] = {
        {1997, 1, 2, "01/02/1997"},
        {2024, 12, 31, "12/31/2024"},
        {1601, 1, 1, "01/01/1601"},
        {999, 3, 4, "03/04/0999"},
        {9999, 12, 31, "12/31/9999"},
        // Years of five digits are written as the last four-digit year.
        {10000, 1, 1, "01/01/9999"},
        {30827, 7, 8, "07/08/9999"},
        {65535, 12, 31, "12/31/9999"},
    };
    for (const auto& c : cases) {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        fake.add_file(kPath).written = {c.year, c.month, c.day, 8, 0};
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_STREQ(record.szDate, c.expected) << c.year;
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

TEST_F(FileFactsTest, FoundFileGivesShortPathSizeDateTimeAndVersion) {
    FakeFile& file = fake.add_file(kPath);
    file.short_path = kShortPath;
    file.alternate_name = "LONGLI~1.DLL";
    file.size = 123456;
    file.written = {2001, 9, 30, 17, 45};
    file.with_version(0x00040000, 0x000003B6);
    const ModuleRecord record = capture_one_module("LONGLIBRARY.DLL", kPath);
    EXPECT_STREQ(record.szPath, kShortPath);
    EXPECT_STREQ(record.szShortName, "LONGLI~1.DLL");
    EXPECT_EQ(record.dwFileSize, 123456u);
    EXPECT_STREQ(record.szDate, "09/30/2001");
    EXPECT_STREQ(record.szTime, "17:45p");
    EXPECT_STREQ(record.szVersion, "4.0.0.950");
    // The version is read from the short form of the path.
    EXPECT_EQ(fake.version_reads.count(kShortPath), 1u);
    EXPECT_EQ(fake.version_reads.count(kPath), 0u);
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
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        fake.add_file(kPath).size = c.size;
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_EQ(record.dwFileSize, c.expected) << c.size;
    }
}

TEST_F(FileFactsTest, MissingFileKeepsLongPathAndHasNoFacts) {
    const ModuleRecord record = capture_one_module("LONGLIBRARY.DLL", "c:\\gone\\LongLibrary.dll");
    EXPECT_STREQ(record.szPath, "C:\\GONE\\LONGLIBRARY.DLL");
    EXPECT_STREQ(record.szShortName, "");
    EXPECT_EQ(record.dwFileSize, 0u);
    EXPECT_STREQ(record.szDate, "");
    EXPECT_STREQ(record.szTime, "");
    EXPECT_STREQ(record.szVersion, "");
    // Without the file, its version is not asked for.
    EXPECT_TRUE(fake.version_reads.empty());
}

TEST_F(FileFactsTest, ShortPathFailingKeepsLongPathButTakesTheEightThreeName) {
    FakeFile& file = fake.add_file(kPath);
    file.short_path_fails = true;
    file.alternate_name = "LONGLI~1.DLL";
    file.size = 99;
    file.with_version(0x00010002, 0x00030004);
    const ModuleRecord record = capture_one_module("LONGLIBRARY.DLL", kPath);
    EXPECT_STREQ(record.szPath, kPath);
    EXPECT_STREQ(record.szShortName, "LONGLI~1.DLL");
    EXPECT_EQ(record.dwFileSize, 0u);
    EXPECT_STREQ(record.szDate, "");
    EXPECT_STREQ(record.szTime, "");
    EXPECT_STREQ(record.szVersion, "");
}

TEST_F(FileFactsTest, ShortPathMustFitTwoHundredSixtyCharacters) {
    const struct {
        std::size_t length;
        bool taken;
    } cases[] = {{259, true}, {260, true}, {261, false}, {400, false}};
    for (const auto& c : cases) {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        const std::string short_form = "C:\\" + std::string(c.length - 3, 'S');
        FakeFile& file = fake.add_file(kPath);
        file.short_path = short_form;
        file.size = 7;
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_EQ(std::string(record.szPath), c.taken ? short_form : std::string(kPath))
            << c.length;
        EXPECT_EQ(record.dwFileSize, c.taken ? 7u : 0u) << c.length;
    }
}

TEST_F(FileFactsTest, TimeConversionFailingLeavesOnlyDateAndTimeEmpty) {
    FakeFile& file = fake.add_file(kPath);
    file.time_conversion_fails = true;
    file.size = 512;
    file.with_version(0x00050001, 0x0A280000);
    const ModuleRecord record = capture_one_module("L.DLL", kPath);
    EXPECT_STREQ(record.szDate, "");
    EXPECT_STREQ(record.szTime, "");
    EXPECT_EQ(record.dwFileSize, 512u);
    EXPECT_STREQ(record.szVersion, "5.1.2600.0");
}

TEST_F(FileFactsTest, FileWithoutVersionStillHasSizeDateAndTime) {
    for (const auto lookup : {os::VersionLookup::no_version_data, os::VersionLookup::no_fixed_block}) {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        FakeFile& file = fake.add_file(kPath);
        file.version_lookup = lookup;
        file.size = 2048;
        const ModuleRecord record = capture_one_module("L.DLL", kPath);
        EXPECT_STREQ(record.szVersion, "") << static_cast<int>(lookup);
        EXPECT_EQ(record.dwFileSize, 2048u);
        EXPECT_STREQ(record.szDate, "01/02/1997");
        EXPECT_STREQ(record.szTime, "13:05p");
    }
}

TEST_F(FileFactsTest, VersionTextIsFourNumbersCutToNineteenCharacters) {
    const struct {
        std::uint32_t most, least;
        const char* expected;
    } cases[] = {
        {0x00040000, 0x000003B6, "4.0.0.950"},
        {0, 0, "0.0.0.0"},
        {0x000A0014, 0x001E0028, "10.20.30.40"},
        {0xFFFFFFFF, 0x028F028F, "65535.65535.655.655"},   // 19: fits exactly
        {0xFFFFFFFF, 0x0D31028F, "65535.65535.3377.65"},   // 20: the last digit goes
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535.6"},   // 23: four digits go
    };
    for (const auto& c : cases) {
        fake = FakeProcessSource{};
        fake.add_file(kPath).with_version(c.most, c.least);
        char text[20];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(snapshot::GetFileVersionText(kPath, text), 0);
        EXPECT_STREQ(text, c.expected);
    }
}

TEST_F(FileFactsTest, VersionTextAnswersWhatWasFound) {
    const struct {
        os::VersionLookup lookup;
        int expected;
    } cases[] = {
        {os::VersionLookup::found, 0},
        {os::VersionLookup::no_fixed_block, 1},
        {os::VersionLookup::no_version_data, -1},
    };
    for (const auto& c : cases) {
        fake = FakeProcessSource{};
        FakeFile& file = fake.add_file(kPath);
        file.version_lookup = c.lookup;
        file.version = {0x00010000, 0};
        char text[20] = "stale text";
        EXPECT_EQ(snapshot::GetFileVersionText(kPath, text), c.expected);
        EXPECT_STREQ(text, c.expected == 0 ? "1.0.0.0" : "");
    }
    char text[20] = "stale text";
    EXPECT_EQ(snapshot::GetFileVersionText("C:\\NO\\SUCH.DLL", text), -1);
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

}  // namespace
}  // namespace korvex::test
