#include "snapshot/registry.h"

#include "snapshot/capture.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

namespace {
constinit Registry g_registry{};
constinit CaptureFunction g_capture_for_tests = nullptr;
}  // namespace

Registry& registry() noexcept { return g_registry; }

bool snapshot_is_current() noexcept { return g_registry.current != nullptr; }

void drop_all_snapshots() noexcept {
    release_all_entries(g_registry.list);
    g_registry.current = nullptr;
    ClearSnapShotTables();
}

void name_work_file_from_counter(SnapshotEntry& entry) noexcept {
    format_work_file_name(g_registry.counter, entry.work_file_name);
    g_registry.counter = g_registry.counter == INT32_MAX ? 0 : g_registry.counter + 1;
}

bool compose_entry_path(const SnapshotEntry& entry, char (&path)[work_file_path_size]) noexcept {
    return compose_work_file_path(g_registry.work_directory, entry.work_file_name, path);
}

bool compose_next_entry_path(char (&path)[work_file_path_size]) noexcept {
    char file_name[work_file_name_size];
    format_work_file_name(g_registry.counter, file_name);
    return compose_work_file_path(g_registry.work_directory, file_name, path);
}

void set_capture_for_tests(CaptureFunction capture) noexcept { g_capture_for_tests = capture; }

void run_capture() noexcept {
    if (g_capture_for_tests != nullptr)
        g_capture_for_tests();
    else
        CaptureSnapShot();
}

}  // namespace korvex::snapshot
