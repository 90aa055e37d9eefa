#include <cstdio>

#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "snapshot/work_file_format.h"
#include "snapshot/work_file_stream.h"

namespace korvex::snapshot {

namespace {

// The stream being read and how many of its bytes are still unread. The
// file's length is learned once, up front: the format has no upper bound on
// its counts, so every count is checked against what is left before storage
// is obtained for it (a 4-byte file claiming 2^31 - 1 records is refused
// without trying to allocate hundreds of gigabytes).
struct Source {
    std::FILE* stream;
    std::uint64_t length;
    std::uint64_t unread;

    std::uint64_t position() const noexcept { return length - unread; }
};

bool learn_length(Source& source) noexcept {
    if (std::fseek(source.stream, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(source.stream);
    // A length the runtime cannot tell (over 2 GiB with a 32-bit long) is
    // more than a 32-bit process could load anyway.
    if (end < 0 || std::fseek(source.stream, 0, SEEK_SET) != 0) return false;
    source.length = static_cast<std::uint64_t>(end);
    source.unread = source.length;
    return true;
}

bool read_count(Source& source, std::int32_t& count) noexcept {
    unsigned char bytes[work_file_count_size];
    if (source.unread < sizeof bytes) return false;
    if (std::fread(bytes, sizeof bytes, 1, source.stream) != 1) return false;
    source.unread -= sizeof bytes;
    count = decode_count(bytes);
    return true;
}

// Reads `count` records in runs of the rows-per-call setting into a block of
// exactly that size. `reserve` gives the emptied table its block, placed to
// suit the records' position in the file (see tables.h). The bytes
// still needed after this table (`needed_after`) are counted too, so a
// process count that leaves no room for the module count is refused at once.
template <typename Record>
bool read_records(Source& source, RecordTable<Record>& table,
                  bool (*reserve)(std::int32_t, std::uint64_t),
                  std::int32_t count, std::uint64_t needed_after, std::int32_t rows_per_call) noexcept {
    if (count < 0) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * sizeof(Record);
    if (bytes > source.unread || needed_after > source.unread - bytes) return false;
    if (!reserve(count, source.position())) return false;

    std::int32_t done = 0;
    while (done < count) {
        const std::int32_t left = count - done;
        const std::int32_t run = left < rows_per_call ? left : rows_per_call;
        const std::size_t items = static_cast<std::size_t>(run);
        if (std::fread(table.records + done, sizeof(Record), items, source.stream) != items)
            return false;
        done += run;
    }
    source.unread -= bytes;
    return true;
}

bool read_tables(Source& source, std::int32_t rows) noexcept {
    std::int32_t processes = 0;
    std::int32_t modules = 0;
    return read_count(source, processes) &&
           read_records(source, process_table(), ReserveProcessRecords, processes,
                        work_file_count_size, rows) &&
           read_count(source, modules) &&
           read_records(source, module_table(), ReserveModuleRecords, modules, 0, rows);
}

}  // namespace

std::int32_t read_work_file(const char* path) noexcept {
    ClearSnapShotTables();
    const std::int32_t rows = readout_state().rows_per_call < 1 ? 1 : readout_state().rows_per_call;
    std::FILE* stream = open_work_file_stream(path, "rb", rows);
    if (stream == nullptr) return work_file_rejected;

    Source source{stream, 0, 0};
    const bool loaded = learn_length(source) && read_tables(source, rows);
    std::fclose(stream);
    if (loaded) return work_file_loaded;
    // Whatever was read before the failure goes: a table is either the
    // file's whole table or empty.
    ClearSnapShotTables();
    return work_file_rejected;
}

}  // namespace korvex::snapshot
