#include "snapshot/state.h"

#include "snapshot/capture.h"

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

void name_work_file_from_counter(SnapshotEntry& entry) noexcept {
    std::int32_t& counter = g_state.registry.counter;
    format_work_file_name(counter, entry.work_file_name);
    counter = counter == INT32_MAX ? 0 : counter + 1;
}

bool compose_entry_path(const SnapshotEntry& entry, char (&path)[work_file_path_size]) noexcept {
    return compose_work_file_path(g_state.registry.work_directory, entry.work_file_name, path);
}

bool compose_next_entry_path(char (&path)[work_file_path_size]) noexcept {
    char file_name[work_file_name_size];
    format_work_file_name(g_state.registry.counter, file_name);
    return compose_work_file_path(g_state.registry.work_directory, file_name, path);
}

void set_capture_for_tests(CaptureFunction capture) noexcept { g_capture_for_tests = capture; }

void run_capture() noexcept {
    if (g_capture_for_tests != nullptr)
        g_capture_for_tests();
    else
        CaptureSnapShot();
}

}  // namespace korvex::snapshot
