// The ProcessTable and ModuleTable: the records of the current snapshot,
// kept here, in blocks that grow by a fixed 40 records; and the heap storage
// every block of the snapshot side comes from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "korvex32.h"

namespace korvex::snapshot {

// malloc and free of the C runtime; null when no storage can be had. Every
// allocation of the snapshot side goes through here, so that tests can make
// the n-th one fail (test_seams.h).
void* obtain_storage(std::size_t bytes) noexcept;
void release_storage(void* block) noexcept;

// The failure set by fail_storage_after (test_seams.h): while above 0 it
// counts down once per allocation, and the allocation that brings it to 0
// fails.
inline constinit long storage_failure_countdown = 0;

template <typename Record>
struct RecordTable {
    Record* records = nullptr;
    std::int32_t capacity = 0;
    std::int32_t count = 0;
    // The storage that holds the records: `records` itself, or a block that
    // `records` starts a few bytes into (see reserve_process_records).
    void* storage = nullptr;
};

using ProcessTable = RecordTable<ProcessRecord>;
using ModuleTable = RecordTable<ModuleRecord>;

inline constexpr std::int32_t table_growth_step = 40;

// The current snapshot's tables. Both are empty while no snapshot is
// current; the registry keeps that rule (state.h).
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
// file into the records, and that copy is much faster when source and
// destination stand at the same place within a 64-byte line (figures in
// docs/performance.md). The block is
// then up to 63 bytes longer; it is still one allocation.
bool reserve_process_records(std::int32_t count, std::uint64_t file_position = 0) noexcept;
bool reserve_module_records(std::int32_t count, std::uint64_t file_position = 0) noexcept;

}  // namespace korvex::snapshot
