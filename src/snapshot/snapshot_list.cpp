#include "snapshot/snapshot_list.h"

#include <cstdio>
#include <cstring>

#include "fixed_text.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

namespace {

// Big enough for any directory the registry keeps (515 characters), the
// backslash and any work-file name (256 characters), so the formatting
// itself never cuts; the limits are applied afterwards.
constexpr std::size_t path_scratch_size = work_directory_size + 1 + work_file_name_size;

std::size_t format_path(const char* directory, const char* file_name,
                        char (&scratch)[path_scratch_size]) noexcept {
    const int length = std::snprintf(scratch, sizeof scratch, "%s\\%s", directory, file_name);
    return length < 0 ? sizeof scratch : static_cast<std::size_t>(length);
}

}  // namespace

SnapshotName snapshot_name_of(const char* given) noexcept {
    SnapshotName name{};
    copy_text_cut(given, name.text, sizeof name.text);
    return name;
}

void format_work_file_name(std::int32_t counter, char (&name)[work_file_name_size]) noexcept {
    std::snprintf(name, sizeof name, "%s%05d%s", "snp", static_cast<int>(counter), ".wrk");
}

bool compose_work_file_path(const char* directory, const char* file_name,
                            char (&path)[work_file_path_size]) noexcept {
    char scratch[path_scratch_size];
    const std::size_t length = format_path(directory, file_name, scratch);
    if (length >= sizeof path) {
        path[0] = '\0';
        return false;
    }
    std::memcpy(path, scratch, length + 1);
    return true;
}

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

void name_work_file_from_counter(Registry& registry, SnapshotEntry& entry) noexcept {
    std::int32_t& counter = registry.counter;
    format_work_file_name(counter, entry.work_file_name);
    counter = counter == INT32_MAX ? 0 : counter + 1;
}

bool compose_entry_path(const Registry& registry, const SnapshotEntry& entry,
                        char (&path)[work_file_path_size]) noexcept {
    return compose_work_file_path(registry.work_directory, entry.work_file_name, path);
}

bool compose_next_entry_path(const Registry& registry, char (&path)[work_file_path_size]) noexcept {
    char file_name[work_file_name_size];
    format_work_file_name(registry.counter, file_name);
    return compose_work_file_path(registry.work_directory, file_name, path);
}

}  // namespace korvex::snapshot
