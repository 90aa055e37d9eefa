#include "snapshot_reading.h"

#include <algorithm>
#include <fstream>

namespace korvex::host {

namespace {

template <typename Record, typename Read>
bool read_pages(Read read, std::int32_t rows, std::uint32_t count, std::vector<Record>& out) {
    out.reserve(count);
    std::vector<Record> page(std::max<std::size_t>(1, std::min<std::size_t>(count, static_cast<std::size_t>(rows))));
    while (out.size() < count) {
        const std::size_t expected = std::min(page.size(), count - out.size());
        const std::int32_t copied = read(page.data());
        if (copied < 1 || static_cast<std::size_t>(copied) != expected) return false;
        out.insert(out.end(), page.begin(), page.begin() + copied);
    }
    return read(page.data()) == KORVEX_READ_END;
}

bool read_count(std::ifstream& in, std::uint32_t& count) {
    unsigned char bytes[4] = {};
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return false;
    const std::uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    if (value > 0x7FFFFFFF) return false;
    count = value;
    return true;
}

}  // namespace

bool read_record_counts(const std::string& work_file, RecordCounts& counts) {
    std::ifstream in(work_file, std::ios::binary);
    if (!read_count(in, counts.processes)) return false;
    in.seekg(static_cast<std::streamoff>(sizeof(ProcessRecord)) * counts.processes, std::ios::cur);
    return read_count(in, counts.modules);
}

bool read_snapshot(const Library& library, std::int32_t rows, const RecordCounts& counts, SnapshotPages& pages) {
    library.set_rows_per_call(rows);
    library.select_process(0);
    return read_pages(library.read_processes, rows, counts.processes, pages.processes) &&
           read_pages(library.read_modules, rows, counts.modules, pages.modules);
}

void keep_process(SnapshotPages& pages, std::uint32_t process) {
    if (process == 0) return;
    std::erase_if(pages.processes, [&](const ProcessRecord& p) { return p.th32ProcessID != process; });
    std::erase_if(pages.modules, [&](const ModuleRecord& m) { return m.dwProcessID != process; });
}

}  // namespace korvex::host
