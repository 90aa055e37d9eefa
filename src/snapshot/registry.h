// The snapshot registry's state: the SnapshotList, the current snapshot, the
// work directory and the snapshot counter. The seven registry exports work on
// it; the readout asks it whether a snapshot is current.
#pragma once

#include <cstdint>

#include "snapshot/snapshot_list.h"
#include "snapshot/work_file_names.h"

namespace korvex::snapshot {

struct Registry {
    SnapshotList list{};
    SnapshotEntry* current = nullptr;
    char work_directory[work_directory_size] = {};
    std::int32_t counter = 0;
};

Registry& registry() noexcept;

bool snapshot_is_current() noexcept;

// Releases every entry and both tables: no snapshot is current afterwards.
// The work directory, the counter and the readout settings stay as they are.
void drop_all_snapshots() noexcept;

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
