// Rounds of every export that opens or obtains something, through the DLL
// as a host calls it: a handle opened after the rounds has the value of one
// opened before them (handles are handed out lowest free first, so a leaked
// one would take that value), and the C heap and the private bytes do not
// grow from the first rounds to the last.
//
// KORVEX_LEAK_ROUNDS sets the rounds of map/list/unmap, terminate and work-file
// select/delete (default 1,000); KORVEX_LEAK_CAPTURE_ROUNDS the rounds of
// real take/select/delete (default 50: two real captures under Wine take
// some 60 ms; docs/robustness.md has the 10,000-round figures).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "loaded_library.h"
#include "resource_probe.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using namespace korvex::test;

int setting(const char* name, int otherwise) {
    const char* given = std::getenv(name);
    return given != nullptr ? std::atoi(given) : otherwise;
}

struct Usage {
    std::uintptr_t handle;
    std::int64_t heap;
    std::uint64_t private_bytes;
};
Usage usage_now() { return {probe_handle_value(), heap_bytes_in_use(), private_bytes()}; }

class LeakHost : public testing::Test {
protected:
    TempDir dir_;
    std::string kernel32_ = system_folder() + "kernel32.dll";

    void SetUp() override {
        ASSERT_EQ(init_snapshots(dir_.path().string().c_str()), 0);
        set_rows_per_call(1);
    }
    void TearDown() override { init_snapshots(""); }

    // The size query, then the fill into a buffer of that size.
    static void list(std::int32_t(KORVEX_API* names)(char*)) {
        const std::int32_t size = names(nullptr);
        ASSERT_GT(size, 0);
        std::string buffer(static_cast<std::size_t>(size), '#');
        ASSERT_EQ(names(buffer.data()), size);
    }

    void light_round() {
        ASSERT_EQ(map_file(kernel32_.c_str()), KORVEX_IMAGE_PE);
        ASSERT_NO_FATAL_FAILURE(list(import_modules));
        ASSERT_NO_FATAL_FAILURE(list(export_names));
        // The functions kernel32 imports from the first module it names.
        std::string modules(static_cast<std::size_t>(import_modules(nullptr)), '\0');
        import_modules(modules.data());
        std::string request = "0" + std::string(modules.c_str());
        const std::int32_t size = import_functions(request.data());
        ASSERT_GT(size, 0) << request;
        request[0] = '1';
        request.resize(std::max<std::size_t>(request.size(), static_cast<std::size_t>(size)));
        ASSERT_EQ(import_functions(request.data()), size);
        unmap_file(0);
        ASSERT_EQ(terminate_process(0xFFFFFFF0u), 0);
        char path[KORVEX_WORKFILE_PATH_SIZE] = "placed";
        ASSERT_EQ(new_work_file(path), 0);
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const char empty_snapshot[8] = {};
        DWORD written = 0;
        WriteFile(file, empty_snapshot, sizeof empty_snapshot, &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(select_snapshot("placed"), 0);
        ProcessRecord process;
        ASSERT_EQ(read_processes(&process), KORVEX_READ_END);
        ASSERT_EQ(delete_snapshot("placed"), 0);
        ASSERT_EQ(select_snapshot("placed"), KORVEX_SNAPSHOT_NOT_FOUND);
    }

    void capture_round() {
        ASSERT_EQ(take_snapshot("first"), 0);
        ASSERT_EQ(take_snapshot("second"), 0);
        ASSERT_EQ(select_snapshot("first"), 0);
        ModuleRecord module;
        ASSERT_EQ(read_modules(&module), 1);
        ASSERT_EQ(delete_snapshot("first"), 0);
        ASSERT_EQ(delete_snapshot("second"), 0);
    }
};

TEST_F(LeakHost, RoundsOfEveryExportLeaveNoHandleAndNoMemoryBehind) {
    const int light_rounds = setting("KORVEX_LEAK_ROUNDS", 1000);
    const int capture_rounds = setting("KORVEX_LEAK_CAPTURE_ROUNDS", 50);
    const int warm_up = 5;
    for (int round = 0; round < warm_up; ++round) {
        ASSERT_NO_FATAL_FAILURE(light_round());
        ASSERT_NO_FATAL_FAILURE(capture_round());
    }
    const Usage before = usage_now();
    const DWORD started = GetTickCount();
    for (int round = warm_up; round < light_rounds; ++round) ASSERT_NO_FATAL_FAILURE(light_round());
    const DWORD light_done = GetTickCount();
    for (int round = warm_up; round < capture_rounds; ++round)
        ASSERT_NO_FATAL_FAILURE(capture_round());
    const DWORD captures_done = GetTickCount();
    const Usage after = usage_now();

    std::printf("[ figures  ] %d light rounds in %lu ms, %d capture rounds in %lu ms\n",
                light_rounds, static_cast<unsigned long>(light_done - started), capture_rounds,
                static_cast<unsigned long>(captures_done - light_done));
    std::printf("[ figures  ] heap in use %lld -> %lld bytes, private bytes %llu -> %llu\n",
                static_cast<long long>(before.heap), static_cast<long long>(after.heap),
                static_cast<unsigned long long>(before.private_bytes),
                static_cast<unsigned long long>(after.private_bytes));
    EXPECT_EQ(after.handle, before.handle) << "a handle was left open";
    ASSERT_GE(before.heap, 0);
    EXPECT_EQ(after.heap, before.heap);
    EXPECT_LE(after.private_bytes, before.private_bytes + 256 * 1024);
}

// Ending a real process opens and closes a handle to it each time.
TEST_F(LeakHost, EndingRealProcessesLeavesNoHandleBehind) {
    auto end_one_child = [] {
        const PROCESS_INFORMATION child = start_child("--child sleep 60000");
        ASSERT_NE(child.hProcess, nullptr);
        EXPECT_NE(terminate_process(child.dwProcessId), 0);
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 20000), WAIT_OBJECT_0);
        CloseHandle(child.hProcess);
    };
    ASSERT_NO_FATAL_FAILURE(end_one_child());
    const std::uintptr_t before = probe_handle_value();
    for (int round = 0; round < 5; ++round) ASSERT_NO_FATAL_FAILURE(end_one_child());
    EXPECT_EQ(probe_handle_value(), before);
}

}  // namespace
}  // namespace korvex::host_test
