#include "snapshot_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bytes.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "test_seams.h"

namespace korvex::test {

namespace snap = korvex::snapshot;

namespace {

Processes g_capture_processes;
Modules g_capture_modules;

void fake_capture() {
    for (const auto& record : g_capture_processes) snap::AppendProcessRecord(record);
    for (const auto& record : g_capture_modules) snap::AppendModuleRecord(record);
}

// The pages of the records still to read (those of the filtered process
// only, for modules), through the shared page reader.
template <typename Record, typename Read>
ReadOut read_all(Read read, std::vector<Record> ReadOut::*into, std::size_t expected) {
    ReadOut out;
    bool ok = false;
    const Bytes bytes = read_all_pages<Record>(read, snap::readout_state().rows_per_call, expected,
                                               ok, &out.results);
    EXPECT_TRUE(ok || out.results.back() < 0)
        << "a page outside 0..rows, or more records than were left";
    (out.*into).resize(bytes.size() / sizeof(Record));
    if (!bytes.empty()) std::memcpy((out.*into).data(), bytes.data(), bytes.size());
    return out;
}

}  // namespace

Processes process_table_records() {
    const auto& table = snap::process_table();
    return Processes(table.records, table.records + table.count);
}

Modules module_table_records() {
    const auto& table = snap::module_table();
    return Modules(table.records, table.records + table.count);
}

// Without a current snapshot the tables are empty and the cursors may stand
// anywhere: nothing is still to read.
ReadOut read_all_processes() {
    const std::int32_t left = snap::process_table().count - snap::readout_state().process_cursor;
    return read_all<ProcessRecord>(ReadSnapShotProcesses, &ReadOut::processes,
                                   std::size_t(std::max(left, 0)));
}

ReadOut read_all_modules() {
    const auto& table = snap::module_table();
    const auto& state = snap::readout_state();
    std::size_t left = 0;
    for (std::int32_t i = state.module_cursor; i < table.count; ++i)
        left += state.process_filter == 0 || table.records[i].dwProcessID == state.process_filter;
    return read_all<ModuleRecord>(ReadSnapShotModules, &ReadOut::modules, left);
}

void expect_readout(const snap::ReadoutState& expected, const std::string& what) {
    const auto fields = [](const snap::ReadoutState& s) {
        return std::vector<std::int64_t>{s.rows_per_call, s.process_cursor, s.module_cursor,
                                         s.process_filter};
    };
    EXPECT_EQ(fields(snap::readout_state()), fields(expected))
        << what << " (rows, cursors, filter)";
}

void capture_next(const Processes& processes, const Modules& modules) {
    g_capture_processes = processes;
    g_capture_modules = modules;
}

void SnapshotTest::SetUp() {
    snap::fail_storage_after(0);
    capture_next({}, {});
    snap::set_capture_for_tests(fake_capture);
    work_dir_ = temp_.file("work");
    std::filesystem::create_directories(work_dir_);
    ASSERT_EQ(InitSnapShots(work_dir_.c_str()), 0);
    snap::readout_state() = snap::ReadoutState{};
}

void SnapshotTest::TearDown() {
    snap::fail_storage_after(0);
    InitSnapShots("");
    snap::readout_state() = snap::ReadoutState{};
    snap::set_capture_for_tests(nullptr);
}

std::string SnapshotTest::work_path(const std::string& file_name) const {
    return work_dir_ + "\\" + file_name;
}

std::string SnapshotTest::work_path(int counter) const {
    char name[32];
    std::snprintf(name, sizeof name, "snp%05d.wrk", counter);
    return work_path(std::string(name));
}

std::string SnapshotTest::work_file_of(const std::string& name) {
    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
    std::memcpy(buffer, name.c_str(), std::min(name.size() + 1, sizeof buffer - 1));
    return GetSnapShotWorkFile(buffer) == 0 ? std::string(buffer) : std::string();
}

std::vector<std::string> SnapshotTest::registered_names() {
    std::vector<std::string> names;
    const snap::SnapshotList& list = snap::registry().list;
    const snap::SnapshotEntry* previous = nullptr;
    for (const snap::SnapshotEntry* entry = list.head; entry != nullptr; entry = entry->next) {
        EXPECT_EQ(entry->previous, previous) << entry->name;
        names.emplace_back(entry->name);
        previous = entry;
    }
    EXPECT_EQ(list.tail, previous);
    return names;
}

std::string SnapshotTest::current_name() {
    const snap::SnapshotEntry* current = snap::registry().current;
    return current == nullptr ? std::string("(none)") : std::string(current->name);
}

bool SnapshotTest::file_exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace korvex::test
