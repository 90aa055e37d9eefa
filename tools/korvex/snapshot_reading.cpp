#include "snapshot_reading.h"

#include <algorithm>
#include <cstring>

namespace korvex::host {

namespace {

constexpr unsigned char untouched = 0xA5;

// Calls `read` until it answers the end code. With rows below 100 a count is
// never 100, so the answer is plain. With 100 rows or more a full page of
// exactly 100 records answers 100 too; the end copies nothing, so the page is
// filled with a pattern first and a 100 that left the pattern whole is the end.
template <typename Record, typename Read>
bool read_pages(Read read, std::int32_t rows, std::vector<Record>& out, int& pages) {
    std::vector<Record> page(static_cast<std::size_t>(rows));
    const bool ambiguous = rows >= KORVEX_READ_END;
    const auto page_bytes = [&] { return reinterpret_cast<unsigned char*>(page.data()); };
    const std::size_t checked = sizeof(Record) * KORVEX_READ_END;
    for (;;) {
        if (ambiguous) std::memset(page_bytes(), untouched, checked);
        const std::int32_t copied = read(page.data());
        if (copied == KORVEX_READ_END &&
            (!ambiguous || std::all_of(page_bytes(), page_bytes() + checked,
                                       [](unsigned char b) { return b == untouched; })))
            return true;
        if (copied < 0 || copied > rows) return false;
        out.insert(out.end(), page.begin(), page.begin() + copied);
        ++pages;
    }
}

}  // namespace

bool read_snapshot(const Library& library, std::int32_t rows, std::uint32_t process_filter,
                   SnapshotPages& pages) {
    library.set_rows_per_call(rows);
    library.select_process(process_filter);
    return read_pages(library.read_processes, rows, pages.processes, pages.process_pages) &&
           read_pages(library.read_modules, rows, pages.modules, pages.module_pages);
}

}  // namespace korvex::host
