// The snapshot list: the snapshots registered, in order of registration,
// with their names, their work files' names and the paths those files get in
// the work directory, and the limits all of them are kept to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "korvex32.h"

namespace korvex::snapshot {

inline constexpr std::size_t snapshot_name_size = 51;  // 50 characters and the terminator
inline constexpr std::size_t work_file_name_size = 257;
inline constexpr std::size_t work_file_path_size = 516;  // 515 characters and the terminator
inline constexpr std::size_t work_directory_size = work_file_path_size;
static_assert(snapshot_name_size == KORVEX_MAX_SNAPSHOT_NAME + 1);
static_assert(work_file_path_size == KORVEX_WORKFILE_PATH_SIZE);

// A caller's snapshot name as the registry keeps and compares it: its first
// 50 characters. The same cut applies to every export that takes a name, so
// an over-long name reaches the snapshot it registered.
struct SnapshotName {
    char text[snapshot_name_size];
};
SnapshotName snapshot_name_of(const char* given) noexcept;

// "snp", the counter zero-padded to five digits, ".wrk": snp00000.wrk.
void format_work_file_name(std::int32_t counter, char (&name)[work_file_name_size]) noexcept;

// The directory exactly as given, one backslash, the work-file name. False,
// with `path` empty, when the result would not fit in 515 characters: a cut
// path would name another file, so none is composed.
bool compose_work_file_path(const char* directory, const char* file_name,
                            char (&path)[work_file_path_size]) noexcept;

// The registered snapshots, oldest at the head, doubly linked. Entries live
// in storage from obtain_storage.

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

// The registry: the list, the snapshot that is current, the work directory
// and the counter that names work files. The exports keep one (state.h) and
// hand it to the calls below.
struct Registry {
    SnapshotList list{};
    SnapshotEntry* current = nullptr;
    char work_directory[work_directory_size] = {};
    std::int32_t counter = 0;
};

// Hands the counter's value to a new entry's work-file name and raises it.
// After 2,147,483,647 it starts again at 0 instead of going negative.
void name_work_file_from_counter(Registry& registry, SnapshotEntry& entry) noexcept;

// The entry's work-file path inside the work directory; false (nothing
// composed) when it would not fit in 515 characters.
bool compose_entry_path(const Registry& registry, const SnapshotEntry& entry,
                        char (&path)[work_file_path_size]) noexcept;

// The path the next entry's work file would get, drawn from the counter
// without raising it; false, with `path` empty, as above.
bool compose_next_entry_path(const Registry& registry, char (&path)[work_file_path_size]) noexcept;

}  // namespace korvex::snapshot
