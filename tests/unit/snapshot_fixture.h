// Shared ground for the snapshot tests: every piece of snapshot state reset
// before and after each test, a fake capture that appends chosen records, a
// work directory inside a fresh temporary folder, and builders for records
// and work files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "korvex32.h"
#include "snapshot/state.h"
#include "snapshot_bytes.h"
#include "temp_dir.h"

namespace korvex::test {

using Processes = std::vector<ProcessRecord>;
using Modules = std::vector<ModuleRecord>;

// A ProcessRecord with dwSize 296, the id and file name given, and every
// other field filled from the id so that records differ in every part.
ProcessRecord process_record(std::uint32_t id, const char* exe_file);

// A ModuleRecord of process `id`. Bytes after each text's terminator carry a
// pattern, so byte-for-byte copies can be told from field-by-field ones.
ModuleRecord module_record(std::uint32_t id, const char* short_name, const char* path = "C:\\X.DLL");

// `count` processes and `count` modules of processes 1, 2, 3, ...
Processes some_processes(int count);
Modules some_modules(int count, std::uint32_t first_id = 1);

// The current tables, copied out.
Processes process_table_records();
Modules module_table_records();

// Every record of `kept` appears in `all`, in the same order.
template <typename Record>
bool in_order_within(const std::vector<Record>& kept, const std::vector<Record>& all) {
    std::size_t next = 0;
    for (const Record& record : kept) {
        while (next < all.size() && std::memcmp(&all[next], &record, sizeof record) != 0) ++next;
        if (next == all.size()) return false;
        ++next;
    }
    return true;
}

// Every page of the current snapshot until the end code; -1 if there is no
// current snapshot. Pages are read with the rows-per-call setting in force.
struct ReadOut {
    std::vector<std::int32_t> results;
    Processes processes;
    Modules modules;
};
ReadOut read_all_processes();
ReadOut read_all_modules();

// The readout state, every field of it: {rows per call, process cursor,
// module cursor, process filter}.
void expect_readout(const snapshot::ReadoutState& expected, const std::string& what = "");

// Records the fake capture appends on the next TakeSnapShot.
void capture_next(const Processes& processes, const Modules& modules);

class SnapshotTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The work directory given to InitSnapShots: "<temp>/work". It exists,
    // and on every platform the library's "work\snpNNNNN.wrk" paths stay
    // inside the temporary folder (natively the backslash is part of a
    // file name beside it).
    [[nodiscard]] const std::string& work_dir() const { return work_dir_; }
    // The path the library composes for a work-file name.
    [[nodiscard]] std::string work_path(const std::string& file_name) const;
    [[nodiscard]] std::string work_path(int counter) const;

    // GetSnapShotWorkFile of `name`, or "" when it answers -1.
    static std::string work_file_of(const std::string& name);

    static bool file_exists(const std::string& path);

    TempDir temp_;
    std::string work_dir_;
};

}  // namespace korvex::test
