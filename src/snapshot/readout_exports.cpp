// SetRowsPerCall, SelectProcess, ReadSnapShotProcesses and ReadSnapShotModules:
// the current snapshot handed out a page at a time.
#include <cstring>

#include "korvex32.h"
#include "snapshot/readout.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"

using namespace korvex::snapshot;

namespace {

// A null buffer gets no records, and the cursor stays, so the next call with
// a buffer hands out the same page. The answer is the end code: a host that
// reads until it (with a null buffer by mistake, or Visual Basic's null) then
// stops, where a count of 0 would have it call again for ever. No count is
// claimed and no record is passed over.
constexpr std::int32_t no_page_written = KORVEX_READ_END;

std::int32_t page_length(std::int32_t cursor, std::int32_t count) noexcept {
    const std::int32_t left = count - cursor;
    const std::int32_t rows = readout_state().rows_per_call;
    return left < rows ? left : rows;
}

// One block move of the records from the cursor on.
template <typename Record>
std::int32_t copy_page(const RecordTable<Record>& table, std::int32_t& cursor,
                       Record* buffer) noexcept {
    const std::int32_t n = page_length(cursor, table.count);
    std::memcpy(buffer, table.records + cursor, static_cast<std::size_t>(n) * sizeof(Record));
    cursor += n;
    return n;
}

// Examines records from the cursor until the page is full or the table ends;
// the cursor passes every record examined, matching or not, so a scan that
// reaches the end without a match answers 0 and the next call 100.
std::int32_t copy_filtered_page(const ModuleTable& table, std::int32_t& cursor,
                                std::uint32_t process_id, ModuleRecord* buffer) noexcept {
    const std::int32_t rows = readout_state().rows_per_call;
    std::int32_t copied = 0;
    while (copied < rows && cursor < table.count) {
        const ModuleRecord& record = table.records[cursor++];
        if (record.dwProcessID == process_id)
            std::memcpy(&buffer[copied++], &record, sizeof record);
    }
    return copied;
}

}  // namespace

extern "C" void KORVEX_API SetRowsPerCall(int32_t rows) {
    readout_state().rows_per_call = rows < 1 ? 1 : rows;
}

extern "C" int32_t KORVEX_API SelectProcess(uint32_t processId) {
    readout_state().process_filter = processId;
    return static_cast<int32_t>(processId);
}

extern "C" int32_t KORVEX_API ReadSnapShotProcesses(ProcessRecord* buffer) {
    if (!snapshot_is_current()) return KORVEX_NO_CURRENT_SNAPSHOT;
    ReadoutState& readout = readout_state();
    const ProcessTable& table = process_table();
    if (readout.process_cursor >= table.count) return KORVEX_READ_END;
    if (buffer == nullptr) return no_page_written;
    return copy_page(table, readout.process_cursor, buffer);
}

extern "C" int32_t KORVEX_API ReadSnapShotModules(ModuleRecord* buffer) {
    if (!snapshot_is_current()) return KORVEX_NO_CURRENT_SNAPSHOT;
    ReadoutState& readout = readout_state();
    const ModuleTable& table = module_table();
    if (readout.module_cursor >= table.count) return KORVEX_READ_END;
    if (buffer == nullptr) return no_page_written;
    if (readout.process_filter == 0) return copy_page(table, readout.module_cursor, buffer);
    return copy_filtered_page(table, readout.module_cursor, readout.process_filter, buffer);
}
