#include <cstdio>

#include "os/files.h"

#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot/work_file.h"
#include "snapshot/work_file_format.h"
#include "snapshot/work_file_stream.h"

namespace korvex::snapshot {

namespace {

void write_count(std::FILE* stream, std::int32_t count) noexcept {
    unsigned char bytes[work_file_count_size];
    encode_count(count, bytes);
    std::fwrite(bytes, sizeof bytes, 1, stream);
}

// One stream write per run; a short write leaves the stream's error flag
// set, which the caller examines once at the end.
template <typename Record>
void write_records(std::FILE* stream, const RecordTable<Record>& table,
                   std::int32_t rows_per_call) noexcept {
    std::int32_t written = 0;
    while (written < table.count) {
        const std::int32_t left = table.count - written;
        const std::int32_t run = left < rows_per_call ? left : rows_per_call;
        std::fwrite(table.records + written, sizeof(Record), static_cast<std::size_t>(run), stream);
        written += run;
    }
}

}  // namespace

std::int32_t write_work_file(const char* path) noexcept {
    const std::int32_t rows = readout_state().rows_per_call < 1 ? 1 : readout_state().rows_per_call;
    std::FILE* stream = open_work_file_stream(path, "wb", rows);
    if (stream == nullptr) return work_file_not_created;

    write_count(stream, process_table().count);
    write_records(stream, process_table(), rows);
    write_count(stream, module_table().count);
    write_records(stream, module_table(), rows);

    // A write error part-way (a full disk) may already have been flushed and
    // forgotten by the time the stream closes, so the error flag counts as
    // well as the close. And a runtime may not see a write cut short at all
    // (under Wine a write that reaches a file-size limit reports success for
    // the part it wrote), so the file on disk must also have its whole
    // length: a file reported as written is a whole file.
    const bool write_failed = std::ferror(stream) != 0;
    const bool close_failed = std::fclose(stream) != 0;
    const bool whole = os::file_length_is(
        path, work_file_size(static_cast<std::uint64_t>(process_table().count),
                             static_cast<std::uint64_t>(module_table().count)));
    return write_failed || close_failed || !whole ? work_file_close_failed : work_file_written;
}

}  // namespace korvex::snapshot
