#include "snapshot/work_file_stream.h"

#include "korvex32.h"
#include "os/files.h"

namespace korvex::snapshot {

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

}  // namespace

std::FILE* open_work_file_stream(const char* path, const char* mode,
                                 std::int32_t rows_per_call) noexcept {
    // A FIFO at the path would hold the call until some other process
    // opened its other end; it is not a work file either way.
    std::FILE* stream = os::open_stream_without_waiting(path, mode);
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

}  // namespace korvex::snapshot
