// TerminateProc, GetVersionEx32 and SetGetVersionNumber through the DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdint>
#include <string>

#include "loaded_library.h"

namespace korvex::host_test {
namespace {

TEST(TerminateProcHost, EndsAChildWithExitCodeZero) {
    const PROCESS_INFORMATION child = start_child("--child sleep 60000");
    ASSERT_NE(child.hProcess, nullptr);

    EXPECT_NE(terminate_process(child.dwProcessId), 0);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 12345;
    ASSERT_TRUE(GetExitCodeProcess(child.hProcess, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(child.hProcess);
}

TEST(TerminateProcHost, IdZeroAndAnEndedProcessAreRefused) {
    EXPECT_EQ(terminate_process(0), 0);
    EXPECT_EQ(terminate_process(0xFFFFFFF0u), 0);
}

TEST(GetVersionEx32Host, PassesThePlatformRecordThrough) {
    OSVERSIONINFOA mine{};
    mine.dwOSVersionInfoSize = sizeof mine;
    ASSERT_TRUE(GetVersionExA(&mine));

    KorvexOsVersionInfo info{};
    info.dwOSVersionInfoSize = 148;
    ASSERT_NE(get_version(&info), 0);
    EXPECT_EQ(info.dwMajorVersion, mine.dwMajorVersion);
    EXPECT_EQ(info.dwMinorVersion, mine.dwMinorVersion);
    EXPECT_EQ(info.dwBuildNumber, mine.dwBuildNumber);
    EXPECT_EQ(info.dwPlatformId, mine.dwPlatformId);

    KorvexOsVersionInfo wrong{};
    wrong.dwOSVersionInfoSize = 0;
    EXPECT_EQ(get_version(&wrong), 0);
}

// The size field is the platform's to judge: the extended record (156
// bytes) that the platform also takes goes through and is filled, the
// library adding no size rule of its own.
TEST(GetVersionEx32Host, LeavesTheSizeFieldToThePlatform) {
    OSVERSIONINFOEXA mine{};
    mine.dwOSVersionInfoSize = sizeof mine;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&mine)));

    OSVERSIONINFOEXA info{};
    static_assert(sizeof info == 156);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_NE(get_version(&info), 0);
    EXPECT_EQ(info.dwOSVersionInfoSize, 156u);
    EXPECT_EQ(info.dwMajorVersion, mine.dwMajorVersion);
    EXPECT_EQ(info.wProductType, mine.wProductType);
    EXPECT_NE(info.wProductType, 0) << "the extended part is filled too";

    KorvexOsVersionInfo short_by_one{};
    short_by_one.dwOSVersionInfoSize = 147;
    EXPECT_EQ(get_version(&short_by_one), 0);
    EXPECT_EQ(short_by_one.dwMajorVersion, 0u) << "a refused record is left as it was";
}

TEST(SetGetVersionNumber, AnswersEachValueItIsGiven) {
    ASSERT_NE(set_get_version_number, nullptr);
    for (const std::int32_t flag : {7, 0, 2, -1, INT_MIN, INT_MAX, 1})
        EXPECT_EQ(set_get_version_number(flag), flag);
}

}  // namespace
}  // namespace korvex::host_test
