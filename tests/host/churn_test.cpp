// Snapshots taken while a helper starts and ends short-lived child
// processes that load DLLs as fast as it can: processes vanish between the
// process walk and their module walk, and module lists change while they are
// read. Every capture must still complete, hand out well-formed records in
// order, and save a work file that is exactly what the pages hand out.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "loaded_library.h"
#include "record_checks.h"
#include "snapshot_bytes.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using namespace korvex::test;

constexpr DWORD churn_milliseconds = 8000;
constexpr int most_captures = 60;

TEST(ChurnHost, CapturesDuringProcessChurnCompleteSortedAndMatchTheirWorkFiles) {
    TempDir dir;
    ASSERT_EQ(init_snapshots(dir.path().string().c_str()), 0);
    set_rows_per_call(100);

    std::string command =
        "\"" + this_program() + "\" --child churn " + std::to_string(churn_milliseconds);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &helper));
    CloseHandle(helper.hThread);

    int captures = 0;
    std::size_t fewest = SIZE_MAX, most = 0, modules_seen = 0;
    while (captures < most_captures && WaitForSingleObject(helper.hProcess, 0) == WAIT_TIMEOUT) {
        const std::string name = "churn " + std::to_string(captures);
        ASSERT_EQ(take_snapshot(name.c_str()), 0) << name;
        char path[KORVEX_WORKFILE_PATH_SIZE] = {};
        name.copy(path, sizeof path - 1);
        ASSERT_EQ(get_work_file(path), 0);
        const DecodedWorkFile saved = decode_work_file(read_file(path));
        ASSERT_TRUE(saved.exact_length) << name << ": work file length is not 8 + 296 P + 332 M";

        bool ok = false;
        const Bytes processes =
            read_all_pages<ProcessRecord>(read_processes, 100, std::size_t(saved.processes), ok);
        ASSERT_TRUE(ok) << name;
        const Bytes modules =
            read_all_pages<ModuleRecord>(read_modules, 100, std::size_t(saved.modules), ok);
        ASSERT_TRUE(ok) << name;
        EXPECT_EQ(processes, record_bytes(saved.process_records)) << name;
        EXPECT_EQ(modules, record_bytes(saved.module_records)) << name;
        EXPECT_EQ(process_problems(saved.process_records), "") << name;
        EXPECT_EQ(module_problems(saved.module_records, saved.process_records), "") << name;

        fewest = std::min(fewest, saved.process_records.size());
        most = std::max(most, saved.process_records.size());
        modules_seen += saved.module_records.size();
        ++captures;
    }
    ASSERT_EQ(WaitForSingleObject(helper.hProcess, 60000), WAIT_OBJECT_0);
    DWORD started = 0;
    ASSERT_TRUE(GetExitCodeProcess(helper.hProcess, &started));
    CloseHandle(helper.hProcess);

    // An earlier snapshot reloads from its file while the system has moved on.
    ASSERT_GT(captures, 1);
    EXPECT_EQ(select_snapshot("churn 0"), 0);
    std::printf(
        "[ figures  ] %d captures during churn, %lu children started, %zu to %zu processes "
        "per capture, %zu module records in all\n",
        captures, static_cast<unsigned long>(started), fewest, most, modules_seen);
    EXPECT_GT(started, 3u) << "the helper started short-lived children";
    init_snapshots("");
    set_rows_per_call(1);
}

}  // namespace
}  // namespace korvex::host_test
