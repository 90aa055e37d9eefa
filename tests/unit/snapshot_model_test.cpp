// A small reference model of the registry, the work files on disk and the
// paged readout, driven side by side with the library through long random
// call sequences and compared after every call.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "snapshot/state.h"
#include "test_seams.h"
#include "snapshot/tables.h"
#include "snapshot_fixture.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

struct Tables {
    Processes processes;
    Modules modules;
};

// ---- The model --------------------------------------------------------------

struct Model {
    struct Entry {
        std::string name;
        int file_number;
    };
    std::vector<Entry> entries;            // oldest first
    std::optional<std::size_t> current;    // index into entries
    int counter = 0;
    std::map<int, std::optional<Tables>> disk;  // work files; nullopt: a corrupt one
    Tables tables;
    std::int32_t rows = 1, process_cursor = 0, module_cursor = 0;
    std::uint32_t filter = 0;

    static std::string key(const std::string& name) { return name.substr(0, 50); }
    std::optional<std::size_t> find(const std::string& name) const {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].name == key(name)) return i;
        return std::nullopt;
    }
    void rewind() { process_cursor = module_cursor = 0, filter = 0; }
    void register_entry(const std::string& name) { entries.push_back({key(name), counter++}); }

    int take(const std::string& name, const Tables& captured) {
        register_entry(name);
        current = entries.size() - 1;
        tables = captured;
        rewind();
        disk[entries.back().file_number] = captured;
        return 0;
    }
    int select(const std::string& name) {
        if (current && entries[*current].name == key(name)) return rewind(), 0;
        current = find(name);
        if (!current) return tables = {}, -1;
        const auto file = disk.find(entries[*current].file_number);
        if (file == disk.end() || !file->second) return tables = {}, -2;
        tables = *file->second;
        rewind();
        return 0;
    }
    int remove(const std::string& name) {
        const auto found = find(name);
        if (!found) return -1;
        disk.erase(entries[*found].file_number);
        if (current == found) current.reset(), tables = {};
        else if (current && *current > *found) --*current;
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(*found));
        return 0;
    }
    int read_processes(Processes& page) {
        if (!current) return -1;
        const auto count = static_cast<std::int32_t>(tables.processes.size());
        if (process_cursor >= count) return 100;
        const std::int32_t n = std::min(rows, count - process_cursor);
        page.assign(tables.processes.begin() + process_cursor,
                    tables.processes.begin() + process_cursor + n);
        process_cursor += n;
        return n;
    }
    int read_modules(Modules& page) {
        if (!current) return -1;
        const auto count = static_cast<std::int32_t>(tables.modules.size());
        if (module_cursor >= count) return 100;
        page.clear();
        while (static_cast<std::int32_t>(page.size()) < rows && module_cursor < count) {
            const ModuleRecord& record = tables.modules[static_cast<std::size_t>(module_cursor++)];
            if (filter == 0 || record.dwProcessID == filter) page.push_back(record);
        }
        return static_cast<int>(page.size());
    }
};

// ---- The driver -------------------------------------------------------------

const std::string names[] = {"a", "b", "A", "ab", "snap shot", std::string(50, 'x'),
                             std::string(50, 'x') + "tail", ""};
const std::uint32_t process_ids[] = {0, 1, 2, 3, 0x80000000u};
const std::int32_t rows_values[] = {-3, 0, 1, 2, 3, 5, 100, INT32_MAX};

class SnapshotModelTest : public SnapshotTest, public testing::WithParamInterface<unsigned> {
protected:
    std::mt19937 random_{GetParam()};
    Model model_;

    std::size_t pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
    }
    const std::string& some_name() { return names[pick(std::size(names))]; }

    Tables random_tables() {
        Tables made;
        const std::size_t processes = pick(8), modules = pick(24);
        for (std::size_t i = 0; i < processes; ++i) {
            ProcessRecord record = process_record(process_ids[pick(std::size(process_ids))], "R.EXE");
            record.cntThreads = static_cast<std::uint32_t>(random_());
            made.processes.push_back(record);
        }
        for (std::size_t i = 0; i < modules; ++i) {
            ModuleRecord record = module_record(process_ids[pick(std::size(process_ids))], "R.DLL");
            record.dwFileSize = static_cast<std::uint32_t>(random_());
            made.modules.push_back(record);
        }
        return made;
    }

    std::string path_of(int file_number) const { return work_path(file_number); }

    // One random call on both sides; the results must agree.
    void step(std::string& what) {
        const std::size_t operation = pick(15);
        switch (operation) {
            case 0:
            case 1: {
                const std::string& name = some_name();
                const Tables captured = random_tables();
                capture_next(captured.processes, captured.modules);
                what = "TakeSnapShot(" + name + ")";
                EXPECT_EQ(TakeSnapShot(name.c_str()), model_.take(name, captured)) << what;
                break;
            }
            case 2: {
                const std::string& name = some_name();
                what = "SelectSnapShot(" + name + ")";
                EXPECT_EQ(SelectSnapShot(name.c_str()), model_.select(name)) << what;
                break;
            }
            case 3: {
                const std::string& name = some_name();
                what = "DeleteSnapShot(" + name + ")";
                EXPECT_EQ(DeleteSnapShot(name.c_str()), model_.remove(name)) << what;
                break;
            }
            case 4: {
                const std::string& name = some_name();
                what = "NewSnapShotWorkFile(" + name + ")";
                char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
                name.copy(buffer, sizeof buffer - 1);
                ASSERT_EQ(NewSnapShotWorkFile(buffer), 0) << what;
                model_.register_entry(name);
                EXPECT_EQ(std::string(buffer), path_of(model_.entries.back().file_number)) << what;
                break;
            }
            case 5: {
                const std::string& name = some_name();
                what = "GetSnapShotWorkFile(" + name + ")";
                const auto found = model_.find(name);
                EXPECT_EQ(work_file_of(name),
                          found ? path_of(model_.entries[*found].file_number) : std::string())
                    << what;
                break;
            }
            case 6: {
                const std::int32_t rows = rows_values[pick(std::size(rows_values))];
                what = "SetRowsPerCall(" + std::to_string(rows) + ")";
                SetRowsPerCall(rows);
                model_.rows = std::max(rows, 1);
                break;
            }
            case 7: {
                const std::uint32_t id = process_ids[pick(std::size(process_ids))];
                what = "SelectProcess(" + std::to_string(id) + ")";
                EXPECT_EQ(SelectProcess(id), static_cast<std::int32_t>(id)) << what;
                model_.filter = id;
                break;
            }
            case 8:
            case 9: {
                what = "ReadSnapShotProcesses";
                std::vector<ProcessRecord> buffer(page_room(model_.tables.processes.size()));
                Processes expected;
                const int answer = model_.read_processes(expected);
                ASSERT_EQ(ReadSnapShotProcesses(buffer.data()), answer) << what;
                if (!expected.empty()) {
                    EXPECT_TRUE(same_records(Processes(buffer.begin(), buffer.begin() + answer), expected));
                }
                break;
            }
            case 10:
            case 11: {
                what = "ReadSnapShotModules";
                std::vector<ModuleRecord> buffer(page_room(model_.tables.modules.size()));
                Modules expected;
                const int answer = model_.read_modules(expected);
                ASSERT_EQ(ReadSnapShotModules(buffer.data()), answer) << what;
                if (!expected.empty()) {
                    EXPECT_TRUE(same_records(Modules(buffer.begin(), buffer.begin() + answer), expected));
                }
                break;
            }
            case 12: {
                what = pick(4) == 0 ? "InitSnapShots" : "ClearCurSnapShot";
                if (what == "InitSnapShots") {
                    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
                    model_.entries.clear();
                    model_.counter = 0;
                } else {
                    ASSERT_EQ(ClearCurSnapShot(), 0);
                }
                model_.current.reset();
                model_.tables = {};
                break;
            }
            case 13: {
                // The host (or a fault) changes a registered snapshot's file.
                if (model_.entries.empty()) break;
                const int number = model_.entries[pick(model_.entries.size())].file_number;
                if (pick(2) == 0) {
                    what = "host writes a work file";
                    const Tables placed = random_tables();
                    write_bytes(path_of(number), work_file_bytes(placed.processes, placed.modules));
                    model_.disk[number] = placed;
                } else {
                    what = "work file cut short";
                    Bytes bytes = work_file_bytes(random_tables().processes, {});
                    bytes.resize(pick(bytes.size()));
                    write_bytes(path_of(number), bytes);
                    model_.disk[number] = std::nullopt;
                }
                break;
            }
            case 14: {
                // No storage for the next entry: nothing is registered; a
                // take leaves no snapshot current.
                const std::string& name = some_name();
                snap::fail_storage_after(1);
                if (pick(2) == 0) {
                    what = "TakeSnapShot without storage";
                    capture_next(some_processes(1), {});
                    EXPECT_EQ(TakeSnapShot(name.c_str()), -2) << what;
                    model_.current.reset();
                    model_.tables = {};
                } else {
                    what = "NewSnapShotWorkFile without storage";
                    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
                    name.copy(buffer, sizeof buffer - 1);
                    EXPECT_EQ(NewSnapShotWorkFile(buffer), 0) << what;
                    EXPECT_STREQ(buffer, "") << what;
                }
                snap::fail_storage_after(0);
                break;
            }
        }
    }

    // Room for a page: rows-per-call records, capped by the table's size.
    std::size_t page_room(std::size_t table_size) const {
        return std::max<std::size_t>(1, std::min<std::size_t>(static_cast<std::size_t>(model_.rows), table_size));
    }

    // Everything the library keeps, against the model.
    void compare(const std::string& what) {
        const snap::Registry& registry = snap::registry();
        std::size_t index = 0;
        std::optional<std::size_t> current;
        for (const snap::SnapshotEntry* e = registry.list.head; e != nullptr; e = e->next, ++index) {
            ASSERT_LT(index, model_.entries.size()) << what;
            EXPECT_EQ(std::string(e->name), model_.entries[index].name) << what;
            char file_name[32];
            std::snprintf(file_name, sizeof file_name, "snp%05d.wrk", model_.entries[index].file_number);
            EXPECT_STREQ(e->work_file_name, file_name) << what;
            if (e == registry.current) current = index;
        }
        ASSERT_EQ(index, model_.entries.size()) << what;
        EXPECT_EQ(current, model_.current) << what;
        EXPECT_EQ(registry.counter, model_.counter) << what;
        EXPECT_TRUE(same_records(process_table_records(), model_.tables.processes)) << what;
        EXPECT_TRUE(same_records(module_table_records(), model_.tables.modules)) << what;
        const snap::ReadoutState& readout = snap::readout_state();
        EXPECT_EQ(readout.rows_per_call, model_.rows) << what;
        EXPECT_EQ(readout.process_cursor, model_.process_cursor) << what;
        EXPECT_EQ(readout.module_cursor, model_.module_cursor) << what;
        EXPECT_EQ(readout.process_filter, model_.filter) << what;
    }
};

TEST_P(SnapshotModelTest, LibraryAndModelAgreeAfterEveryCall) {
    constexpr int steps = 4000;
    for (int i = 0; i < steps; ++i) {
        std::string what;
        step(what);
        compare("step " + std::to_string(i) + ": " + what);
        if (HasFailure()) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SnapshotModelTest, testing::Values(1u, 2u, 3u, 20240607u));

}  // namespace
}  // namespace korvex::test
