#include "snapshot/state.h"

#include "snapshot/capture.h"
#include "test_seams.h"

namespace korvex::snapshot {

namespace {
constinit SnapshotState g_state{};
constinit CaptureFunction g_capture_for_tests = nullptr;
}  // namespace

SnapshotState& snapshot_state() noexcept { return g_state; }
Registry& registry() noexcept { return g_state.registry; }
ReadoutState& readout_state() noexcept { return g_state.readout; }

bool snapshot_is_current() noexcept { return g_state.registry.current != nullptr; }

void become_current(SnapshotEntry& entry) noexcept {
    g_state.registry.current = &entry;
    ClearSnapShotTables();
}

void forget_current() noexcept {
    ClearSnapShotTables();
    g_state.registry.current = nullptr;
}

void drop_all_snapshots() noexcept {
    release_all_entries(g_state.registry.list);
    forget_current();
}

void rewind_readout() noexcept {
    g_state.readout.process_cursor = 0;
    g_state.readout.module_cursor = 0;
    g_state.readout.process_filter = 0;
}

bool version_numbers_wanted() noexcept { return g_state.version_switch != 0; }

void set_capture_for_tests(CaptureFunction capture) noexcept { g_capture_for_tests = capture; }

void run_capture() noexcept {
    if (g_capture_for_tests != nullptr)
        g_capture_for_tests();
    else
        CaptureSnapShot();
}

}  // namespace korvex::snapshot
