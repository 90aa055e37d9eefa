// Shared ground for the snapshot tests: the registry and the readout settings
// reset through the exports before and after each test, a fake capture that
// appends chosen records, a work directory inside a fresh temporary folder,
// and the pages of the current snapshot read out as a host reads them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "korvex32.h"
#include "snapshot_bytes.h"
#include "snapshot_records.h"
#include "temp_dir.h"

namespace korvex::test {

// The tables a capture or the work-file reader filled, copied out.
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
// current snapshot. `left` is how many records the test expects still to be
// handed out (of the filtered process, for modules): a page buffer holds no
// more, so a read that writes past them is caught.
using Results = std::vector<std::int32_t>;
struct ReadOut {
    Results results;
    Processes processes;
    Modules modules;
};
ReadOut read_all_processes(std::size_t left);
ReadOut read_all_modules(std::size_t left);

// A snapshot is current and the records still to read are exactly these.
testing::AssertionResult reads_out(const Processes& expected);
testing::AssertionResult reads_out(const Modules& expected);

// Both reads answer -1.
testing::AssertionResult none_current();

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
