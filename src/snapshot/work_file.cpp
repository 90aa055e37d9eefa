#include "snapshot/work_file.h"

#include <cstdio>

#include "os/files.h"
#include "snapshot/readout.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

// ---- The stream

namespace {

// A static block rather than heap storage: the stream needs it only while a
// work file is open, it cannot fail to be had, and it leaves the snapshot
// side's allocations (the tables and the registry) exactly as they were.
// Page-aligned, so that the runtime's refills (from file positions that are
// multiples of its size) and its copies into tables placed by their file
// position (tables.h) all move bytes between equally aligned addresses,
// which is what the processor's block copy is fast at.
alignas(4096) constinit char g_run_buffer[work_file_stream_buffer_size] = {};

// The shorter record sets the run length in bytes, so that both tables of a
// file are moved the same way.
constexpr std::size_t shortest_record =
    sizeof(ProcessRecord) < sizeof(ModuleRecord) ? sizeof(ProcessRecord) : sizeof(ModuleRecord);

// The rows-per-call setting as the length of a run: at least one record.
std::int32_t rows_per_run() noexcept {
    const std::int32_t rows = readout_state().rows_per_call;
    return rows < 1 ? 1 : rows;
}

}  // namespace

namespace {

std::FILE* buffer_work_file_stream(std::FILE* stream, const char* mode,
                                   std::int32_t rows_per_call) noexcept {
    if (stream == nullptr) return nullptr;
    const std::size_t rows = rows_per_call < 1 ? 1 : static_cast<std::size_t>(rows_per_call);
    const bool reading = mode[0] == 'r';
    if (reading && os::long_reads_skip_stream_buffer() &&
        rows >= direct_run_bytes / shortest_record)
        std::setvbuf(stream, nullptr, _IONBF, 0);
    else
        std::setvbuf(stream, g_run_buffer, _IOFBF, sizeof g_run_buffer);
    return stream;
}

}  // namespace

std::FILE* open_work_file_stream(const char* path, const char* mode,
                                 std::int32_t rows_per_call) noexcept {
    // A FIFO at the path would hold the call until some other process
    // opened its other end; it is not a work file either way.
    return buffer_work_file_stream(os::open_stream_without_waiting(path, mode), mode,
                                   rows_per_call);
}

// ---- Writing

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

// The work folder may be shared with other users, who could plant a link at
// the work file's name: the file is written under a new name of its own
// beside it and renamed over that name, which replaces a link rather than
// writing through it. A host reading the work file sees the old file or the
// whole new one, never one being written.
std::int32_t write_work_file(const char* path) noexcept {
    const std::int32_t rows = rows_per_run();
    char temporary[os::temporary_name_room];
    std::FILE* stream =
        buffer_work_file_stream(os::create_stream_beside(path, temporary), "wb", rows);
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
    // length: a file reported as written is a whole file. The length is
    // asked of the open file, after the last bytes went out: looking the
    // file up by its path again would fail for paths the platform's by-name
    // calls do not take (Windows' stop at 259 characters).
    const bool write_failed = std::fflush(stream) != 0 || std::ferror(stream) != 0;
    const bool whole = os::stream_length_is(
        stream, work_file_size(static_cast<std::uint64_t>(process_table().count),
                               static_cast<std::uint64_t>(module_table().count)));
    const bool close_failed = std::fclose(stream) != 0;
    const bool failed = write_failed || close_failed || !whole;
    // A file that could not be written whole still takes the name, as
    // before: a work file of an earlier snapshot left there must not be
    // read as this one's. Only when no rename is possible is nothing there.
    if (!os::move_into_place(temporary, path)) {
        os::delete_file(temporary);
        return failed ? work_file_close_failed : work_file_not_created;
    }
    return failed ? work_file_close_failed : work_file_written;
}

// ---- Reading

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
                  bool (*reserve)(std::int32_t, std::uint64_t), std::int32_t count,
                  std::uint64_t needed_after, std::int32_t rows_per_call) noexcept {
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
           read_records(source, process_table(), reserve_process_records, processes,
                        work_file_count_size, rows) &&
           read_count(source, modules) &&
           read_records(source, module_table(), reserve_module_records, modules, 0, rows);
}

}  // namespace

std::int32_t read_work_file(const char* path) noexcept {
    ClearSnapShotTables();
    const std::int32_t rows = rows_per_run();
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
