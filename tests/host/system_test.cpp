// TerminateProc and GetVersionEx32 through the DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "loaded_library.h"

namespace korvex::host_test {
namespace {

const auto terminate_proc = export_at<decltype(&TerminateProc)>(41);
const auto get_version = export_at<decltype(&GetVersionEx32)>(40);

TEST(TerminateProcHost, EndsAChildWithExitCodeZero) {
    const PROCESS_INFORMATION child = start_child("--child sleep 60000");
    ASSERT_NE(child.hProcess, nullptr);

    EXPECT_NE(terminate_proc(child.dwProcessId), 0);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 12345;
    ASSERT_TRUE(GetExitCodeProcess(child.hProcess, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(child.hProcess);
}

TEST(TerminateProcHost, IdZeroAndAnEndedProcessAreRefused) {
    EXPECT_EQ(terminate_proc(0), 0);
    EXPECT_EQ(terminate_proc(0xFFFFFFF0u), 0);
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

}  // namespace
}  // namespace korvex::host_test
