// Many rounds of every call that obtains and releases something (storage,
// streams, mappings, process lists, handles) leave nothing behind: the C
// heap does not grow from the first rounds to the last, LeakSanitizer finds
// nothing (natively), and a handle opened after the rounds reuses the value
// of one opened before them (under Wine, where handle values are handed out
// lowest free first).
//
// KORVEX_LEAK_ROUNDS sets the number of rounds (10,000 natively; 1,000 under
// Wine, where each file operation is a server round trip: see
// docs/robustness.md for the 10,000-round figures).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_process_source.h"
#include "pe_builder.h"
#include "resource_probe.h"
#include "snapshot_fixture.h"
#include "test_seams.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define KORVEX_TEST_LSAN 1
#endif
#endif

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

int rounds() {
    if (const char* given = std::getenv("KORVEX_LEAK_ROUNDS")) return std::atoi(given);
#ifdef _WIN32
    return 1000;
#else
    return 10000;
#endif
}

class LeakRoundsTest : public SnapshotTest {
protected:
    FakeProcessSource fake;
    std::string image;
    std::string not_an_image;

    void SetUp() override {
        SnapshotTest::SetUp();
        // The real capture, on a fake system of a few processes whose
        // modules share files (so the file facts cache fills and empties).
        snap::set_capture_for_tests(nullptr);
        for (std::uint32_t id = 4; id <= 16; id += 4) {
            FakeProcess& process =
                fake.add_process(id, "C:\\APPS\\P" + std::to_string(id) + ".EXE");
            for (int m = 0; m < 12; ++m)
                process.add_module("M" + std::to_string(m) + ".DLL",
                                   "c:\\lib\\m" + std::to_string(m) + ".dll");
        }
        for (int m = 0; m < 12; ++m)
            fake.add_file("C:\\LIB\\M" + std::to_string(m) + ".DLL").with_version(0x00040000, 950);
        os::set_process_source(&fake);
        // The smallest file MapFile keeps mapped: an MZ header pointing at "PE\0\0".
        image = temp_.write("pe.exe", mz_with_signature(0x40, {'P', 'E', 0, 0}, 0x80));
        not_an_image = temp_.write("mz.exe", Bytes{'M', 'Z', 0, 0});
    }
    void TearDown() override {
        os::set_process_source(nullptr);
        SnapshotTest::TearDown();
    }

    // One round of everything, leaving the registry as it found it.
    void one_round(int round) {
        ASSERT_EQ(TakeSnapShot("first"), 0);
        ASSERT_EQ(TakeSnapShot("second"), 0);
        ASSERT_EQ(SelectSnapShot("first"), 0);  // a reload from the work file
        SetRowsPerCall(round % 7 + 1);
        SelectProcess(round % 2 == 0 ? 0 : 8);
        ASSERT_EQ(read_all_processes(4).processes.size(), 4u);
        ASSERT_EQ(read_all_modules(48).modules.size(), round % 2 == 0 ? 48u : 12u);
        char path[KORVEX_WORKFILE_PATH_SIZE] = "placed";
        ASSERT_EQ(NewSnapShotWorkFile(path), 0);
        ASSERT_EQ(SelectSnapShot("placed"), -2);  // nothing placed there
        ASSERT_EQ(DeleteSnapShot("second"), 0);
        ASSERT_EQ(DeleteSnapShot("placed"), 0);
        // The last entry goes either by name or with the whole registry.
        if (round % 2 == 0)
            ASSERT_EQ(DeleteSnapShot("first"), 0);
        else
            ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);

        ASSERT_EQ(MapFile(image.c_str()), KORVEX_IMAGE_PE);
        ASSERT_EQ(MapFile(image.c_str()), KORVEX_IMAGE_PE);  // replaces the held image
        // An image without directories: every list is empty.
        ASSERT_EQ(GetImportModuleNamesPE(nullptr), 0);
        ASSERT_EQ(GetExportFunctionNamesPE(nullptr), 0);
        char request[] = "0KERNEL32.DLL";
        ASSERT_EQ(GetImportFuncNamesByModulePE(request), 0);
        UnmapFile(0);
        ASSERT_EQ(MapFile(not_an_image.c_str()), KORVEX_IMAGE_MZ);
        ASSERT_EQ(TerminateProc(0x7FFFFFF3u), 0);
        fake.module_lists_asked.clear();
        fake.process_entry_sizes.clear();
    }
};

TEST_F(LeakRoundsTest, NothingIsLeftBehindAfterManyRounds) {
    const int total = rounds();
    const int warm_up = total < 100 ? total : 100;
    for (int round = 0; round < warm_up; ++round) ASSERT_NO_FATAL_FAILURE(one_round(round));
#ifdef _WIN32
    const std::uintptr_t handle_before = probe_handle_value();
    const std::uint64_t private_before = private_bytes();
#endif
    const std::int64_t heap_before = heap_bytes_in_use();
    for (int round = warm_up; round < total; ++round) ASSERT_NO_FATAL_FAILURE(one_round(round));
    const std::int64_t heap_after = heap_bytes_in_use();

    ASSERT_GE(heap_before, 0);
    EXPECT_EQ(heap_after, heap_before)
        << "C heap bytes in use after " << warm_up << " and " << total << " rounds";
    std::printf("[ figures  ] %d rounds: heap in use %lld bytes after %d rounds, %lld after all\n",
                total, static_cast<long long>(heap_before), warm_up,
                static_cast<long long>(heap_after));
#ifdef _WIN32
    EXPECT_EQ(probe_handle_value(), handle_before) << "a handle was left open";
    const std::uint64_t private_after = private_bytes();
    std::printf("[ figures  ] private bytes %llu after %d rounds, %llu after all\n",
                static_cast<unsigned long long>(private_before), warm_up,
                static_cast<unsigned long long>(private_after));
    // Pages are committed in whole steps, so a leak of a few bytes per round
    // shows here only as growth of the commit; none is allowed beyond one
    // heap segment's worth of slack.
    EXPECT_LE(private_after, private_before + 256 * 1024);
#endif
#ifdef KORVEX_TEST_LSAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

#ifdef KORVEX_TEST_LSAN
// The leak checks above can fail: a block whose only pointer is kept
// scrambled counts as lost until the pointer is restored and the block freed.
constexpr std::uintptr_t scramble = 0x5A5A5A5A5A5A5A5Aull;

__attribute__((noinline)) std::uintptr_t lose_a_block() {
    void* block = std::malloc(4096);
    return reinterpret_cast<std::uintptr_t>(block) ^ scramble;
}

__attribute__((noinline)) void clobber_registers() {
    volatile char scratch[512];
    for (std::size_t i = 0; i < sizeof scratch; ++i) scratch[i] = static_cast<char>(i);
}

TEST(LeakChecker, IsOnAndReportsABlockNobodyPointsTo) {
    const std::uintptr_t hidden = lose_a_block();
    clobber_registers();
    EXPECT_NE(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer is off";
    std::free(reinterpret_cast<void*>(hidden ^ scramble));
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
#endif

}  // namespace
}  // namespace korvex::test
