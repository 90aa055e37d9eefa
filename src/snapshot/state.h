// The snapshot side's state as the exports share it: the registered
// snapshots, the current one, the work directory and the counter
// (snapshot_list.h); and the version-number switch. The rest is kept further
// down by the code it belongs to: the current snapshot's tables (tables.h)
// and the readout's setting, cursors and filter (readout.h).
//
// No current snapshot means empty tables. Two transitions keep that rule and
// nothing else changes `current`: become_current (the tables are emptied for
// the capture or work file that fills them) and forget_current.
#pragma once

#include <cstdint>

#include "snapshot/readout.h"
#include "snapshot/snapshot_list.h"

namespace korvex::snapshot {

struct SnapshotState {
    Registry registry{};
    // Stored as given, so the value a host set reads back unchanged; any
    // value but 0 has captures read module file versions.
    std::int32_t version_switch = 1;
};

SnapshotState& snapshot_state() noexcept;
Registry& registry() noexcept;

bool snapshot_is_current() noexcept;

// Makes `entry` current with both tables emptied, ready to be filled.
void become_current(SnapshotEntry& entry) noexcept;

// No snapshot is current afterwards, and both tables are empty.
void forget_current() noexcept;

// Releases every entry and forgets the current one. The work directory, the
// counter and the readout settings stay as they are.
void drop_all_snapshots() noexcept;

// The capture TakeSnapShot runs, with the version-number switch: CaptureSnapShot,
// unless a test has put another in its place (test_seams.h).
void run_capture() noexcept;

}  // namespace korvex::snapshot
