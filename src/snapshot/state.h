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
#include "snapshot/work_file_names.h"

namespace korvex::snapshot {

struct Registry {
    SnapshotList list{};
    SnapshotEntry* current = nullptr;
    char work_directory[work_directory_size] = {};
    std::int32_t counter = 0;
};

struct ReadoutState {
    std::int32_t rows_per_call = 1;   // never below 1
    std::int32_t process_cursor = 0;  // ProcessTable index of the next record to hand out
    std::int32_t module_cursor = 0;   // ModuleTable index of the next record to examine
    std::uint32_t process_filter = 0; // 0: every module
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

// Hands the counter's value to a new entry's work-file name and raises it.
// After 2,147,483,647 it starts again at 0 instead of going negative.
void name_work_file_from_counter(SnapshotEntry& entry) noexcept;

// The entry's work-file path inside the work directory; false (nothing
// composed) when it would not fit in 515 characters.
bool compose_entry_path(const SnapshotEntry& entry, char (&path)[work_file_path_size]) noexcept;

// The path the next entry's work file would get, drawn from the counter
// without raising it; false, with `path` empty, as above.
bool compose_next_entry_path(char (&path)[work_file_path_size]) noexcept;

// Runs instead of CaptureSnapShot inside TakeSnapShot, so tests can fill the
// tables with chosen records. Null restores the real capture.
using CaptureFunction = void (*)();
void set_capture_for_tests(CaptureFunction capture) noexcept;
void run_capture() noexcept;

}  // namespace korvex::snapshot
