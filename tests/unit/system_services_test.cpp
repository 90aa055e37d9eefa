// TerminateProc and GetVersionEx32 on the running system.
#include <gtest/gtest.h>

#include "korvex32.h"

namespace {

TEST(TerminateProc, IdZeroIsRefused) { EXPECT_EQ(TerminateProc(0), 0); }

TEST(TerminateProc, AnIdNoProcessHasIsRefused) {
    // Process ids are multiples of 4 on Windows and below 2^22 on Linux.
    EXPECT_EQ(TerminateProc(0x7FFFFFF3u), 0);
}

TEST(GetVersionEx32, FillsARecordOfTheRightSize) {
    KorvexOsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_NE(GetVersionEx32(&info), 0);
    EXPECT_GT(info.dwMajorVersion, 0u);
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
}

TEST(GetVersionEx32, RefusesAWrongSizeField) {
    KorvexOsVersionInfo info{};
    info.dwOSVersionInfoSize = 0;
    EXPECT_EQ(GetVersionEx32(&info), 0);
    EXPECT_EQ(info.dwMajorVersion, 0u);
}

}  // namespace
