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

constexpr int read_call_limit = 1'000'000;

// The buffer holds rows-per-call records, but never more than the table
// (a page cannot be longer), so that a setting of 2^31 - 1 needs no
// gigabytes; AddressSanitizer then catches a read that writes past a page.
template <typename Record, typename Read>
ReadOut read_all(Read read, std::vector<Record> ReadOut::*into, std::int32_t table_count) {
    ReadOut out;
    const std::int32_t rows = snap::readout_state().rows_per_call;
    const std::int32_t room = std::max(1, std::min(rows, table_count));
    std::vector<Record> buffer(static_cast<std::size_t>(room));
    for (int call = 0; call < read_call_limit; ++call) {
        const auto& state = snap::readout_state();
        const std::int32_t cursor_before = state.process_cursor + state.module_cursor;
        const std::int32_t result = read(buffer.data());
        out.results.push_back(result);
        // A full page of 100 records and the end code are the same number;
        // only the end leaves the cursors where they were.
        const bool at_end = result == KORVEX_READ_END &&
                            state.process_cursor + state.module_cursor == cursor_before;
        if (result < 0 || at_end) break;
        (out.*into).insert((out.*into).end(), buffer.begin(), buffer.begin() + result);
    }
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

ReadOut read_all_processes() {
    return read_all<ProcessRecord>(ReadSnapShotProcesses, &ReadOut::processes,
                                   snap::process_table().count);
}

ReadOut read_all_modules() {
    return read_all<ModuleRecord>(ReadSnapShotModules, &ReadOut::modules,
                                  snap::module_table().count);
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
