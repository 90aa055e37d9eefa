// SetGetVersionNumber: 0 turns the version lookup of the next capture off,
// every other value turns it on.
#include <gtest/gtest.h>

#include <climits>

#include "capture_test_fixture.h"

namespace korvex::test {
namespace {

using VersionSwitchTest = CaptureTest;

constexpr char kPath[] = "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL";

TEST_F(VersionSwitchTest, AnswersTheValueItWasGiven) {
    for (const std::int32_t flag : {7, 0, 2, -1, 1, INT_MAX, INT_MIN})
        EXPECT_EQ(SetGetVersionNumber(flag), flag);
}

TEST_F(VersionSwitchTest, ZeroLeavesVersionsEmptyAndEveryOtherValueReadsThem) {
    const struct {
        std::int32_t flag;
        const char* expected;
    } cases[] = {{0, ""}, {7, "4.10.0.1998"}, {2, "4.10.0.1998"}, {-1, "4.10.0.1998"},
                 {1, "4.10.0.1998"}};
    for (const auto& c : cases) {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
        fake.add_file(kPath).with_version(0x0004000A, 0x000007CE);
        SetGetVersionNumber(c.flag);
        const ModuleRecord record = capture_one_module("KERNEL32.DLL", kPath);
        EXPECT_STREQ(record.szVersion, c.expected) << c.flag;
        EXPECT_EQ(fake.version_reads.size(), c.flag == 0 ? 0u : 1u) << c.flag;
        // The other facts do not depend on the switch.
        EXPECT_STREQ(record.szDate, "01/02/1997") << c.flag;
    }
}

TEST_F(VersionSwitchTest, RecordsAlreadyCapturedKeepTheirVersions) {
    fake.add_file(kPath).with_version(0x00050000, 0);
    const ModuleRecord record = capture_one_module("KERNEL32.DLL", kPath);
    SetGetVersionNumber(0);
    EXPECT_STREQ(record.szVersion, "5.0.0.0");
    EXPECT_STREQ(snapshot::module_table().records[0].szVersion, "5.0.0.0");
}

}  // namespace
}  // namespace korvex::test
