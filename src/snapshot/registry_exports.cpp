// InitSnapShots, TakeSnapShot, SelectSnapShot, ClearCurSnapShot,
// DeleteSnapShot, GetSnapShotWorkFile and NewSnapShotWorkFile.
#include <cstring>

#include "korvex32.h"
#include "os/files.h"
#include "snapshot/readout_state.h"
#include "snapshot/registry.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"

using namespace korvex::snapshot;

namespace {

// Reloads the entry's work file into the tables, which are empty on failure.
bool load_work_file_of(const SnapshotEntry& entry) noexcept {
    char path[work_file_path_size];
    if (!compose_entry_path(entry, path)) {
        ClearSnapShotTables();
        return false;
    }
    return read_work_file(path) == work_file_loaded;
}

}  // namespace

extern "C" int32_t KORVEX_API InitSnapShots(const char* directory) {
    Registry& state = registry();
    // A directory over 515 characters is cut to fit; every path under it is
    // then too long to compose, so nothing is ever written below a cut name.
    copy_text_cut(directory, state.work_directory, sizeof state.work_directory);
    drop_all_snapshots();
    state.counter = 0;
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API TakeSnapShot(const char* name) {
    Registry& state = registry();
    SnapshotEntry* entry = new_snapshot_entry(snapshot_name_of(name));
    // Without storage for the entry nothing is registered and the snapshot
    // that was current stays current, records and cursors untouched.
    if (entry == nullptr) return KORVEX_WORKFILE_CREATE_FAILED;
    name_work_file_from_counter(*entry);
    append_entry(state.list, entry);
    state.current = entry;

    ClearSnapShotTables();
    run_capture();
    rewind_readout();

    char path[work_file_path_size];
    if (!compose_entry_path(*entry, path)) return KORVEX_WORKFILE_CREATE_FAILED;
    return write_work_file(path);
}

extern "C" int32_t KORVEX_API SelectSnapShot(const char* name) {
    Registry& state = registry();
    const SnapshotName wanted = snapshot_name_of(name);
    if (state.current != nullptr && std::strcmp(state.current->name, wanted.text) == 0) {
        rewind_readout();
        return KORVEX_OK;
    }

    state.current = find_entry(state.list, wanted);
    if (state.current == nullptr) {
        // No snapshot owns the records any more; let them go.
        ClearSnapShotTables();
        return KORVEX_SNAPSHOT_NOT_FOUND;
    }

    // On failure the entry stays current with empty tables, and the cursors
    // and filter keep their values.
    if (!load_work_file_of(*state.current)) return KORVEX_WORKFILE_LOAD_FAILED;
    rewind_readout();
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API ClearCurSnapShot(void) {
    ClearSnapShotTables();
    registry().current = nullptr;
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API DeleteSnapShot(const char* name) {
    Registry& state = registry();
    SnapshotEntry* entry = find_entry(state.list, snapshot_name_of(name));
    if (entry == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;

    // A path too long to compose was never written; deleting a cut form of
    // it could remove some other file.
    char path[work_file_path_size];
    if (compose_entry_path(*entry, path)) korvex::os::delete_file(path);

    if (entry == state.current) {
        ClearSnapShotTables();
        state.current = nullptr;
    }
    remove_entry(state.list, entry);
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API GetSnapShotWorkFile(char* buffer) {
    Registry& state = registry();
    const SnapshotEntry* entry = find_entry(state.list, snapshot_name_of(buffer));
    if (entry == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;
    copy_work_file_path_cut(state.work_directory, entry->work_file_name, buffer);
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API NewSnapShotWorkFile(char* buffer) {
    Registry& state = registry();
    SnapshotEntry* entry = new_snapshot_entry(snapshot_name_of(buffer));
    if (entry == nullptr) {
        // Nothing registered: an empty path tells the caller there is no
        // file to place.
        buffer[0] = '\0';
        return KORVEX_OK;
    }
    name_work_file_from_counter(*entry);
    append_entry(state.list, entry);
    copy_work_file_path_cut(state.work_directory, entry->work_file_name, buffer);
    return KORVEX_OK;
}
