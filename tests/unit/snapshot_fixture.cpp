#include "snapshot_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bytes.h"
#include "snapshot/state.h"
#include "test_seams.h"
#include "snapshot/tables.h"

namespace korvex::test {

namespace snap = korvex::snapshot;

namespace {

Processes g_capture_processes;
Modules g_capture_modules;

void fake_capture() {
    for (const auto& record : g_capture_processes) snap::AppendProcessRecord(record);
    for (const auto& record : g_capture_modules) snap::AppendModuleRecord(record);
}

void fill_pattern(void* field, std::size_t size, std::uint8_t seed) {
    auto* bytes = static_cast<std::uint8_t*>(field);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + 31 * i);
}

void put_text(char* field, std::size_t size, const char* text) {
    const std::size_t length = std::strlen(text);
    ASSERT_LT(length, size) << text;
    std::memcpy(field, text, length + 1);
}

// The pages of the records still to read (those of the filtered process
// only, for modules), through the shared page reader.
template <typename Record, typename Read>
ReadOut read_all(Read read, std::vector<Record> ReadOut::*into, std::size_t expected) {
    ReadOut out;
    bool ok = false;
    const Bytes bytes = read_all_pages<Record>(read, snap::readout_state().rows_per_call, expected, ok, &out.results);
    (out.*into).resize(bytes.size() / sizeof(Record));
    if (!bytes.empty()) std::memcpy((out.*into).data(), bytes.data(), bytes.size());
    return out;
}

}  // namespace

ProcessRecord process_record(std::uint32_t id, const char* exe_file) {
    ProcessRecord record;
    fill_pattern(&record, sizeof record, static_cast<std::uint8_t>(id));
    record.dwSize = sizeof(ProcessRecord);
    record.th32ProcessID = id;
    put_text(record.szExeFile, sizeof record.szExeFile, exe_file);
    return record;
}

ModuleRecord module_record(std::uint32_t id, const char* short_name, const char* path) {
    ModuleRecord record;
    fill_pattern(&record, sizeof record, static_cast<std::uint8_t>(id * 7 + 3));
    record.dwProcessID = id;
    put_text(record.szShortName, sizeof record.szShortName, short_name);
    put_text(record.szVersion, sizeof record.szVersion, "4.0.0.950");
    put_text(record.szDate, sizeof record.szDate, "01/02/1997");
    put_text(record.szTime, sizeof record.szTime, "13:05p");
    put_text(record.szPath, sizeof record.szPath, path);
    return record;
}

Processes some_processes(int count) {
    Processes records;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "P%d.EXE", i);
        records.push_back(process_record(static_cast<std::uint32_t>(i + 1), name));
    }
    return records;
}

Modules some_modules(int count, std::uint32_t first_id) {
    Modules records;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "M%d.DLL", i);
        records.push_back(module_record(first_id + static_cast<std::uint32_t>(i), name));
    }
    return records;
}

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
    return read_all<ProcessRecord>(ReadSnapShotProcesses, &ReadOut::processes, std::size_t(std::max(left, 0)));
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
        return std::vector<std::int64_t>{s.rows_per_call, s.process_cursor, s.module_cursor, s.process_filter};
    };
    EXPECT_EQ(fields(snap::readout_state()), fields(expected)) << what << " (rows, cursors, filter)";
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

bool SnapshotTest::file_exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace korvex::test
