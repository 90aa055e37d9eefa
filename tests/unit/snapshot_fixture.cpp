#include "snapshot_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bytes.h"
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

// The pages of the records still to read, through the shared page reader.
// Page lengths are the tests' own to check, so any setting is let through.
template <typename Record, typename Read>
ReadOut read_all(Read read, std::vector<Record> ReadOut::*into, std::size_t left) {
    ReadOut out;
    bool ok = false;
    const Bytes bytes = read_all_pages<Record>(read, INT32_MAX, left, ok, &out.results);
    EXPECT_TRUE(ok || out.results.back() < 0) << "a page of more records than were left";
    (out.*into).resize(bytes.size() / sizeof(Record));
    if (!bytes.empty()) std::memcpy((out.*into).data(), bytes.data(), bytes.size());
    return out;
}

template <typename Record>
testing::AssertionResult read_out_as(const ReadOut& out, const std::vector<Record>& read,
                                     const std::vector<Record>& expected) {
    if (out.results.front() == KORVEX_NO_CURRENT_SNAPSHOT)
        return testing::AssertionFailure() << "no snapshot is current";
    if (!same_records(read, expected))
        return testing::AssertionFailure()
               << read.size() << " records read, not the " << expected.size() << " expected";
    return testing::AssertionSuccess();
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

ReadOut read_all_processes(std::size_t left) {
    return read_all<ProcessRecord>(ReadSnapShotProcesses, &ReadOut::processes, left);
}

ReadOut read_all_modules(std::size_t left) {
    return read_all<ModuleRecord>(ReadSnapShotModules, &ReadOut::modules, left);
}

testing::AssertionResult reads_out(const Processes& expected) {
    const ReadOut out = read_all_processes(expected.size());
    return read_out_as(out, out.processes, expected);
}

testing::AssertionResult reads_out(const Modules& expected) {
    const ReadOut out = read_all_modules(expected.size());
    return read_out_as(out, out.modules, expected);
}

testing::AssertionResult none_current() {
    const Results processes = read_all_processes(0).results;
    const Results modules = read_all_modules(0).results;
    if (processes == Results{-1} && modules == Results{-1}) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "a snapshot is current";
}

void capture_next(const Processes& processes, const Modules& modules) {
    g_capture_processes = processes;
    g_capture_modules = modules;
}

// The cursors are left where they stand: no snapshot is current, and the
// next one to become current rewinds them.
void SnapshotTest::SetUp() {
    snap::fail_storage_after(0);
    capture_next({}, {});
    snap::set_capture_for_tests(fake_capture);
    work_dir_ = temp_.file("work");
    std::filesystem::create_directories(work_dir_);
    ASSERT_EQ(InitSnapShots(work_dir_.c_str()), 0);
    SetRowsPerCall(1);
    SelectProcess(0);
}

void SnapshotTest::TearDown() {
    snap::fail_storage_after(0);
    InitSnapShots("");
    SetRowsPerCall(1);
    SelectProcess(0);
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

bool SnapshotTest::file_exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace korvex::test
