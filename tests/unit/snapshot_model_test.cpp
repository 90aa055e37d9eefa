// The reference model of the registry, the work files on disk and the paged
// readout (snapshot_model.h), driven side by side with the library through
// long random call sequences and compared after every call.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "snapshot/readout.h"
#include "snapshot_fixture.h"
#include "snapshot_model.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

namespace snap = korvex::snapshot;

// ---- The driver -------------------------------------------------------------

const std::string names[] = {
    "a", "b", "A", "ab", "snap shot", std::string(50, 'x'), std::string(50, 'x') + "tail", ""};
const std::uint32_t process_ids[] = {0, 1, 2, 3, 0x80000000u};
const std::int32_t rows_values[] = {-3, 0, 1, 2, 3, 5, 100, INT32_MAX};

class SnapshotModelTest : public SnapshotTest, public testing::WithParamInterface<unsigned> {
protected:
    std::mt19937 random_{GetParam()};
    SnapshotModel model_;

    void SetUp() override {
        SnapshotTest::SetUp();
        snap::rewind_readout();  // where the model's cursors start, whatever ran before
        model_.init(work_dir(), true);
    }
    static std::string key(const std::string& name) { return SnapshotModel::key(name.c_str()); }

    std::size_t pick(std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_);
    }
    const std::string& some_name() { return names[pick(std::size(names))]; }

    Tables random_tables() {
        Tables made;
        const std::size_t processes = pick(8), modules = pick(24);
        for (std::size_t i = 0; i < processes; ++i) {
            ProcessRecord record =
                process_record(process_ids[pick(std::size(process_ids))], "R.EXE");
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
                ASSERT_TRUE(model_.register_entry(key(name)));
                EXPECT_EQ(TakeSnapShot(name.c_str()), model_.save(captured)) << what;
                break;
            }
            case 2: {
                const std::string& name = some_name();
                what = "SelectSnapShot(" + name + ")";
                EXPECT_EQ(SelectSnapShot(name.c_str()), model_.select(key(name))) << what;
                break;
            }
            case 3: {
                const std::string& name = some_name();
                what = "DeleteSnapShot(" + name + ")";
                EXPECT_EQ(DeleteSnapShot(name.c_str()), model_.remove(key(name))) << what;
                break;
            }
            case 4: {
                const std::string& name = some_name();
                what = "NewSnapShotWorkFile(" + name + ")";
                char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
                name.copy(buffer, sizeof buffer - 1);
                ASSERT_EQ(NewSnapShotWorkFile(buffer), 0) << what;
                ASSERT_TRUE(model_.register_entry(key(name)));
                EXPECT_EQ(std::string(buffer), model_.entries.back().path) << what;
                break;
            }
            case 5: {
                const std::string& name = some_name();
                what = "GetSnapShotWorkFile(" + name + ")";
                const auto found = model_.find(key(name));
                EXPECT_EQ(work_file_of(name), found ? model_.entries[*found].path : std::string())
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
            case 9:
                what = "ReadSnapShotProcesses";
                expect_page(ReadSnapShotProcesses, &SnapshotModel::read_processes,
                            model_.tables.processes.size(), what);
                break;
            case 10:
            case 11:
                what = "ReadSnapShotModules";
                expect_page(ReadSnapShotModules, &SnapshotModel::read_modules,
                            model_.tables.modules.size(), what);
                break;
            case 12: {
                what = pick(4) == 0 ? "InitSnapShots" : "ClearCurSnapShot";
                if (what == "InitSnapShots") {
                    ASSERT_EQ(InitSnapShots(work_dir().c_str()), 0);
                    model_.init(work_dir(), true);
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
                const std::string path = model_.entries[pick(model_.entries.size())].path;
                if (pick(2) == 0) {
                    what = "host writes a work file";
                    const Tables placed = random_tables();
                    model_.disk[path] = work_file_bytes(placed);
                    write_file(path, model_.disk[path]);
                } else {
                    what = "work file cut short";
                    Bytes bytes = work_file_bytes(random_tables().processes, {});
                    bytes.resize(pick(bytes.size()));
                    write_file(path, bytes);
                    model_.disk[path] = bytes;
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

    // One page from the library against the model's. The buffer holds
    // rows-per-call records, capped by the table's size.
    template <typename Record, typename Read>
    void expect_page(Read read, std::int32_t (SnapshotModel::*model_read)(std::vector<Record>&),
                     std::size_t table_size, const std::string& what) {
        const std::size_t room =
            std::max<std::size_t>(1, std::min(static_cast<std::size_t>(model_.rows), table_size));
        std::vector<Record> buffer(room);
        std::vector<Record> expected;
        const int answer = (model_.*model_read)(expected);
        ASSERT_EQ(read(buffer.data()), answer) << what;
        if (!expected.empty()) {
            EXPECT_TRUE(same_records(std::vector<Record>(buffer.begin(), buffer.begin() + answer),
                                     expected));
        }
    }

    // Everything the library keeps, against the model.
    void compare(const std::string& what) { EXPECT_EQ(model_difference(model_), "") << what; }
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
