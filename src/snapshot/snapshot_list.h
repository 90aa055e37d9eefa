// The SnapshotList: registered snapshots in order of registration, oldest at
// the head, doubly linked. Entries live in storage from obtain_storage.
#pragma once

#include "snapshot/work_file_names.h"

namespace korvex::snapshot {

struct SnapshotEntry {
    char name[snapshot_name_size];
    char work_file_name[work_file_name_size];
    SnapshotEntry* next;
    SnapshotEntry* previous;
};

struct SnapshotList {
    SnapshotEntry* head = nullptr;
    SnapshotEntry* tail = nullptr;
};

// A new, unlinked entry holding `name` and an empty work-file name; null when
// no storage can be had.
SnapshotEntry* new_snapshot_entry(const SnapshotName& name) noexcept;

void append_entry(SnapshotList& list, SnapshotEntry* entry) noexcept;

// The oldest entry whose name equals `name` byte for byte, or null.
SnapshotEntry* find_entry(const SnapshotList& list, const SnapshotName& name) noexcept;

// Unlinks the entry and releases its storage.
void remove_entry(SnapshotList& list, SnapshotEntry* entry) noexcept;

// Releases every entry; the list is empty afterwards.
void release_all_entries(SnapshotList& list) noexcept;

}  // namespace korvex::snapshot
