// InitSnapShots, TakeSnapShot, SelectSnapShot, ClearCurSnapShot,
// DeleteSnapShot, GetSnapShotWorkFile and NewSnapShotWorkFile, and
// SetGetVersionNumber, which applies from the next capture on.
#include <cstring>

#include "fixed_text.h"
#include "korvex32.h"
#include "os/files.h"
#include "snapshot/readout.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"

using namespace korvex::snapshot;

namespace {

// TakeSnapShot answers with the writer's result as it is.
constexpr bool same_code(std::int32_t internal, std::int32_t published) {
    return internal == published;
}
static_assert(same_code(work_file_written, KORVEX_OK));
static_assert(same_code(work_file_not_created, KORVEX_WORKFILE_CREATE_FAILED));
static_assert(same_code(work_file_close_failed, KORVEX_WORKFILE_CLOSE_FAILED));

// Reloads the entry's work file into the tables, which become_current has
// emptied and which stay empty on failure.
bool load_work_file_of(const Registry& state, const SnapshotEntry& entry) noexcept {
    char path[work_file_path_size];
    if (!compose_entry_path(state, entry, path)) return false;
    return read_work_file(path) == work_file_loaded;
}

// Writes a composed path over the name in the caller's buffer.
void hand_out_path(const char (&path)[work_file_path_size], char* buffer) noexcept {
    std::memcpy(buffer, path, std::strlen(path) + 1);
}

}  // namespace

extern "C" int32_t KORVEX_API InitSnapShots(const char* directory) {
    Registry& state = registry();
    // A directory over 515 characters is cut to fit; every path under it is
    // then too long to compose, so nothing is ever written below a cut name.
    // A null directory is Visual Basic's vbNullString, its empty string.
    korvex::copy_text_cut(directory == nullptr ? "" : directory, state.work_directory,
                          sizeof state.work_directory);
    drop_all_snapshots();
    state.counter = 0;
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API TakeSnapShot(const char* name) {
    Registry& state = registry();
    SnapshotEntry* entry = name == nullptr ? nullptr : new_snapshot_entry(snapshot_name_of(name));
    if (entry == nullptr) {
        // Without a name, or storage for the entry, nothing is registered or
        // captured. Elsewhere -2 means that the new snapshot is current, so
        // the one that was current goes as well: a host that reads on gets
        // -1, never an older snapshot's records taken for the new ones.
        forget_current();
        return KORVEX_WORKFILE_CREATE_FAILED;
    }
    name_work_file_from_counter(state, *entry);
    append_entry(state.list, entry);
    become_current(*entry);
    run_capture();
    rewind_readout();

    char path[work_file_path_size];
    if (!compose_entry_path(state, *entry, path)) return KORVEX_WORKFILE_CREATE_FAILED;
    return write_work_file(path);
}

extern "C" int32_t KORVEX_API SelectSnapShot(const char* name) {
    Registry& state = registry();
    // A null name is no name: it finds nothing, as an unregistered one.
    SnapshotEntry* found = nullptr;
    if (name != nullptr) {
        const SnapshotName wanted = snapshot_name_of(name);
        if (state.current != nullptr && std::strcmp(state.current->name, wanted.text) == 0) {
            rewind_readout();
            return KORVEX_OK;
        }
        found = find_entry(state.list, wanted);
    }
    if (found == nullptr) {
        // No snapshot owns the records any more; let them go.
        forget_current();
        return KORVEX_SNAPSHOT_NOT_FOUND;
    }
    become_current(*found);

    // On failure the entry stays current with empty tables, and the cursors
    // and filter keep their values.
    if (!load_work_file_of(state, *found)) return KORVEX_WORKFILE_LOAD_FAILED;
    rewind_readout();
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API ClearCurSnapShot(void) {
    forget_current();
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API DeleteSnapShot(const char* name) {
    if (name == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;
    Registry& state = registry();
    SnapshotEntry* entry = find_entry(state.list, snapshot_name_of(name));
    if (entry == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;

    // A path too long to compose was never written; deleting a cut form of
    // it could remove some other file.
    char path[work_file_path_size];
    if (compose_entry_path(state, *entry, path)) korvex::os::delete_file(path);

    if (entry == state.current) forget_current();
    remove_entry(state.list, entry);
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API GetSnapShotWorkFile(char* buffer) {
    if (buffer == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;
    const Registry& state = registry();
    const SnapshotEntry* entry = find_entry(state.list, snapshot_name_of(buffer));
    if (entry == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;
    // A path over 515 characters comes back empty rather than cut: a cut
    // path names some other file, which the host might then write.
    char path[work_file_path_size];
    compose_entry_path(state, *entry, path);
    hand_out_path(path, buffer);
    return KORVEX_OK;
}

extern "C" int32_t KORVEX_API NewSnapShotWorkFile(char* buffer) {
    // There is nowhere to hand the path to, so nothing is registered.
    if (buffer == nullptr) return KORVEX_SNAPSHOT_NOT_FOUND;
    // An empty path tells the caller there is no file to place: nothing is
    // registered when the path would be over 515 characters (a cut one would
    // name another file) or no storage for the entry can be had.
    Registry& state = registry();
    char path[work_file_path_size];
    SnapshotEntry* entry = compose_next_entry_path(state, path)
                               ? new_snapshot_entry(snapshot_name_of(buffer))
                               : nullptr;
    if (entry == nullptr) {
        buffer[0] = '\0';
        return KORVEX_OK;
    }
    name_work_file_from_counter(state, *entry);
    append_entry(state.list, entry);
    hand_out_path(path, buffer);
    return KORVEX_OK;
}

// Any value but 0 turns the lookup on (2 and -1 included). It applies from
// the next capture on; records already captured keep what they have.
extern "C" int32_t KORVEX_API SetGetVersionNumber(int32_t flag) {
    snapshot_state().version_switch = flag;
    return flag;
}
