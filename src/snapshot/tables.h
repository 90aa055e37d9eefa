// The ProcessTable and ModuleTable: the records of the current snapshot, in
// blocks that grow by a fixed 40 records.
#pragma once

#include <cstdint>

#include "korvex32.h"

namespace korvex::snapshot {

template <typename Record>
struct RecordTable {
    Record* records = nullptr;
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    // The storage that holds the records: `records` itself, or a block that
    // `records` starts a few bytes into (see ReserveProcessRecords).
    void* storage = nullptr;
};

using ProcessTable = RecordTable<ProcessRecord>;
using ModuleTable = RecordTable<ModuleRecord>;

inline constexpr std::int32_t table_growth_step = 40;

ProcessTable& process_table() noexcept;
ModuleTable& module_table() noexcept;

// Empties both tables, ModuleTable first, releasing their blocks.
void ClearSnapShotTables() noexcept;

// Copy the record to the end of its table. When a larger block cannot be
// obtained the record is dropped: the table keeps what it held, and its
// count never exceeds the records actually stored.
void AppendProcessRecord(const ProcessRecord& record) noexcept;
void AppendModuleRecord(const ModuleRecord& record) noexcept;

// Gives an emptied table a block of exactly `count` records and sets its
// count, for a reader that fills them in place. False, with the table left
// empty, when the block cannot be obtained. A count of 0 needs no block.
//
// `file_position` is where the records start in the file they are about to
// be read from. The records are placed at an address that agrees with it
// modulo 64: the C runtime has the kernel copy long runs straight from the
// file into the records, and that copy is several times faster when source
// and destination stand at the same place within a 64-byte line
// (bench/workfile_bench: 100,000 ModuleRecords in runs of 1,000 read in a
// third of the time). The block is then up to 63 bytes longer; it is still
// one allocation.
bool ReserveProcessRecords(std::int32_t count, std::uint64_t file_position = 0) noexcept;
bool ReserveModuleRecords(std::int32_t count, std::uint64_t file_position = 0) noexcept;

}  // namespace korvex::snapshot
