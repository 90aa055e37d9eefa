#include "snapshot/tables.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace korvex::snapshot {

namespace {

constinit ProcessTable g_processes{};
constinit ModuleTable g_modules{};

constexpr std::uint64_t copy_alignment = 64;

template <typename Record>
void clear(RecordTable<Record>& table) noexcept {
    release_storage(table.storage);
    table = RecordTable<Record>{};
}

template <typename Record>
void append(RecordTable<Record>& table, const Record& record) noexcept {
    if (table.count >= table.capacity) {
        // A new block is obtained before the old one goes, so the records
        // move once per growth; without one, the record is dropped.
        const std::int32_t grown = table.capacity + table_growth_step;
        auto* block =
            static_cast<Record*>(obtain_storage(static_cast<std::size_t>(grown) * sizeof(Record)));
        if (block == nullptr) return;
        if (table.count > 0)
            std::memcpy(block, table.records,
                        static_cast<std::size_t>(table.count) * sizeof(Record));
        release_storage(table.storage);
        table.records = block;
        table.storage = block;
        table.capacity = grown;
    }
    std::memcpy(&table.records[table.count], &record, sizeof(Record));
    ++table.count;
}

template <typename Record>
bool reserve(RecordTable<Record>& table, std::int32_t count, std::uint64_t file_position) noexcept {
    clear(table);
    if (count <= 0) return count == 0;
    auto* storage = static_cast<unsigned char*>(
        obtain_storage(static_cast<std::size_t>(count) * sizeof(Record) + (copy_alignment - 1)));
    if (storage == nullptr) return false;
    // The shift that brings the records' address level with `file_position`
    // modulo 64. A position that would misalign the records for their own
    // fields is not followed.
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(storage));
    const std::size_t shift =
        file_position % alignof(Record) == 0
            ? static_cast<std::size_t>((file_position - address) % copy_alignment)
            : 0;
    table.records = reinterpret_cast<Record*>(storage + shift);
    table.storage = storage;
    table.capacity = count;
    table.count = count;
    return true;
}

}  // namespace

void* obtain_storage(std::size_t bytes) noexcept {
    if (storage_failure_countdown > 0 && --storage_failure_countdown == 0) return nullptr;
    return std::malloc(bytes);
}

void release_storage(void* block) noexcept { std::free(block); }

ProcessTable& process_table() noexcept { return g_processes; }
ModuleTable& module_table() noexcept { return g_modules; }

void ClearSnapShotTables() noexcept {
    clear(module_table());
    clear(process_table());
}

void AppendProcessRecord(const ProcessRecord& record) noexcept { append(process_table(), record); }
void AppendModuleRecord(const ModuleRecord& record) noexcept { append(module_table(), record); }

bool reserve_process_records(std::int32_t count, std::uint64_t file_position) noexcept {
    return reserve(process_table(), count, file_position);
}
bool reserve_module_records(std::int32_t count, std::uint64_t file_position) noexcept {
    return reserve(module_table(), count, file_position);
}

}  // namespace korvex::snapshot
