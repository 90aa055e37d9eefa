// The snapshot side's one state: the registered snapshots, the current one,
// the work directory and the counter; the readout's setting, cursors and
// filter; the version-number switch; and the current snapshot's tables.
//
// No current snapshot means empty tables. Two transitions keep that rule and
// nothing else changes `current`: become_current (the tables are emptied for
// the capture or work file that fills them) and forget_current.
#pragma once

#include <cstdint>

#include "snapshot/snapshot_list.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

struct ReadoutState {
    std::int32_t rows_per_call = 1;    // never below 1
    std::int32_t process_cursor = 0;   // ProcessTable index of the next record to hand out
    std::int32_t module_cursor = 0;    // ModuleTable index of the next record to examine
    std::uint32_t process_filter = 0;  // 0: every module
};

struct SnapshotState {
    Registry registry{};
    ReadoutState readout{};
    // Stored as given, so the value a host set reads back unchanged; any
    // value but 0 has captures read module file versions.
    std::int32_t version_switch = 1;
    ProcessTable processes{};
    ModuleTable modules{};
};

SnapshotState& snapshot_state() noexcept;
Registry& registry() noexcept;
ReadoutState& readout_state() noexcept;

bool snapshot_is_current() noexcept;

// Makes `entry` current with both tables emptied, ready to be filled.
void become_current(SnapshotEntry& entry) noexcept;

// No snapshot is current afterwards, and both tables are empty.
void forget_current() noexcept;

// Releases every entry and forgets the current one. The work directory, the
// counter and the readout settings stay as they are.
void drop_all_snapshots() noexcept;

// Both cursors and the filter back to 0, as when a snapshot becomes current.
// The rows-per-call setting is kept.
void rewind_readout() noexcept;

// True unless SetGetVersionNumber last set the switch to 0.
bool version_numbers_wanted() noexcept;

// The capture TakeSnapShot runs: CaptureSnapShot, unless a test has put
// another in its place (test_seams.h).
void run_capture() noexcept;

}  // namespace korvex::snapshot
