// Reading a snapshot back as a host does: every page through the DLL, and
// the work file on disk split into its parts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::host_test {

using PageBytes = std::vector<std::uint8_t>;

// Every page until the end code, as bytes; empty with `ok` false when a page
// answers outside 0..rows. `expected` records in all tell a full page of
// exactly 100 records from the end code.
template <typename Record>
PageBytes read_all_pages(std::int32_t(KORVEX_API* read)(Record*), std::int32_t rows,
                         std::size_t expected, bool& ok) {
    std::vector<Record> page(static_cast<std::size_t>(rows));
    PageBytes out;
    ok = true;
    for (;;) {
        const std::int32_t result = read(page.data());
        if (result == KORVEX_READ_END && out.size() / sizeof(Record) + 100 > expected) return out;
        if (result < 0 || result > rows || out.size() / sizeof(Record) > expected) {
            ok = false;
            return out;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(page.data());
        out.insert(out.end(), bytes, bytes + static_cast<std::size_t>(result) * sizeof(Record));
    }
}

// A work file's counts and records; counts of -1 when the file is too short
// to hold them.
struct SavedSnapshot {
    std::vector<std::uint8_t> bytes;
    std::int32_t processes = -1;
    std::int32_t modules = -1;
    std::vector<ProcessRecord> process_records;
    std::vector<ModuleRecord> module_records;
    [[nodiscard]] bool whole() const;
};

SavedSnapshot read_saved_snapshot(const std::string& path);

}  // namespace korvex::host_test
