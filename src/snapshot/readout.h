// The paged readout's setting and its place in the current snapshot's
// tables: rows per call (the work file's run length too, work_file.h), the
// two cursors and the process filter.
#pragma once

#include <cstdint>

namespace korvex::snapshot {

struct ReadoutState {
    std::int32_t rows_per_call = 1;    // never below 1
    std::int32_t process_cursor = 0;   // ProcessTable index of the next record to hand out
    std::int32_t module_cursor = 0;    // ModuleTable index of the next record to examine
    std::uint32_t process_filter = 0;  // 0: every module
};

ReadoutState& readout_state() noexcept;

// Both cursors and the filter back to 0, as when a snapshot becomes current.
// The rows-per-call setting is kept.
void rewind_readout() noexcept;

}  // namespace korvex::snapshot
