#include "snapshot/state.h"

#include "snapshot/capture.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

namespace {
constinit SnapshotState g_state{};
}  // namespace

SnapshotState& snapshot_state() noexcept { return g_state; }
Registry& registry() noexcept { return g_state.registry; }

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

void run_capture() noexcept {
    if (installed_capture != nullptr)
        installed_capture();
    else
        CaptureSnapShot(g_state.version_switch != 0);
}

}  // namespace korvex::snapshot
