#include "snapshot/snapshot_list.h"

#include <cstring>

#include "snapshot/storage.h"

namespace korvex::snapshot {

SnapshotEntry* new_snapshot_entry(const SnapshotName& name) noexcept {
    auto* entry = static_cast<SnapshotEntry*>(obtain_storage(sizeof(SnapshotEntry)));
    if (entry == nullptr) return nullptr;
    std::memset(entry, 0, sizeof *entry);
    std::memcpy(entry->name, name.text, sizeof entry->name);
    return entry;
}

void append_entry(SnapshotList& list, SnapshotEntry* entry) noexcept {
    entry->next = nullptr;
    entry->previous = list.tail;
    if (list.tail == nullptr)
        list.head = entry;
    else
        list.tail->next = entry;
    list.tail = entry;
}

SnapshotEntry* find_entry(const SnapshotList& list, const SnapshotName& name) noexcept {
    for (SnapshotEntry* entry = list.head; entry != nullptr; entry = entry->next)
        if (std::strcmp(entry->name, name.text) == 0) return entry;
    return nullptr;
}

void remove_entry(SnapshotList& list, SnapshotEntry* entry) noexcept {
    if (entry->previous == nullptr)
        list.head = entry->next;
    else
        entry->previous->next = entry->next;
    if (entry->next == nullptr)
        list.tail = entry->previous;
    else
        entry->next->previous = entry->previous;
    release_storage(entry);
}

void release_all_entries(SnapshotList& list) noexcept {
    SnapshotEntry* entry = list.head;
    while (entry != nullptr) {
        SnapshotEntry* next = entry->next;
        release_storage(entry);
        entry = next;
    }
    list = SnapshotList{};
}

}  // namespace korvex::snapshot
