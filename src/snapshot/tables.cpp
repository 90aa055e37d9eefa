#include "snapshot/tables.h"

#include <cstring>

#include "snapshot/storage.h"

namespace korvex::snapshot {

namespace {

constinit ProcessTable g_processes{};
constinit ModuleTable g_modules{};

template <typename Record>
void clear(RecordTable<Record>& table) noexcept {
    release_storage(table.records);
    table = RecordTable<Record>{};
}

template <typename Record>
void append(RecordTable<Record>& table, const Record& record) noexcept {
    if (table.count >= table.capacity) {
        // A new block is obtained before the old one goes, so the records
        // move once per growth; without one, the record is dropped.
        const std::int32_t grown = table.capacity + table_growth_step;
        auto* block = static_cast<Record*>(
            obtain_storage(static_cast<std::size_t>(grown) * sizeof(Record)));
        if (block == nullptr) return;
        if (table.count > 0)
            std::memcpy(block, table.records, static_cast<std::size_t>(table.count) * sizeof(Record));
        release_storage(table.records);
        table.records = block;
        table.capacity = grown;
    }
    std::memcpy(&table.records[table.count], &record, sizeof(Record));
    ++table.count;
}

template <typename Record>
bool reserve(RecordTable<Record>& table, std::int32_t count) noexcept {
    clear(table);
    if (count <= 0) return count == 0;
    auto* block = static_cast<Record*>(
        obtain_storage(static_cast<std::size_t>(count) * sizeof(Record)));
    if (block == nullptr) return false;
    table.records = block;
    table.capacity = count;
    table.count = count;
    return true;
}

}  // namespace

ProcessTable& process_table() noexcept { return g_processes; }
ModuleTable& module_table() noexcept { return g_modules; }

void ClearSnapShotTables() noexcept {
    clear(g_modules);
    clear(g_processes);
}

void AppendProcessRecord(const ProcessRecord& record) noexcept { append(g_processes, record); }
void AppendModuleRecord(const ModuleRecord& record) noexcept { append(g_modules, record); }

bool ReserveProcessRecords(std::int32_t count) noexcept { return reserve(g_processes, count); }
bool ReserveModuleRecords(std::int32_t count) noexcept { return reserve(g_modules, count); }

}  // namespace korvex::snapshot
