// A reference model of the registry, the work files on disk, the tables and
// the paged readout, driven side by side with the library by the seeded
// model test and the sequence fuzz target. It follows the library's
// documented behaviour call by call, including where storage is obtained
// (so a failing n-th allocation lands on the same step in both) and what the
// work-file reader accepts. model_difference() compares it with the library's
// own state (no GoogleTest here: the fuzz target stops on a difference).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvex32.h"
#include "snapshot/readout.h"
#include "snapshot/state.h"
#include "snapshot/tables.h"
#include "snapshot_bytes.h"

namespace korvex::test {

struct Tables {
    std::vector<ProcessRecord> processes;
    std::vector<ModuleRecord> modules;
};

inline Bytes work_file_bytes(const Tables& tables) {
    return work_file_bytes(tables.processes, tables.modules);
}

struct SnapshotModel {
    struct Entry {
        std::string name;       // as kept: the first 50 characters
        std::string file_name;  // snpNNNNN.wrk
        std::string path;       // directory, backslash, file name
        [[nodiscard]] bool path_fits() const { return path.size() <= 515; }
    };

    std::vector<Entry> entries;  // oldest first
    std::optional<std::size_t> current;
    std::int32_t counter = 0;
    std::string directory;
    bool directory_writable = true;
    std::map<std::string, Bytes> disk;  // work files by path
    Tables tables;
    std::int32_t rows = 1, process_cursor = 0, module_cursor = 0;
    std::uint32_t filter = 0;
    long countdown = 0;  // the storage hook: the n-th allocation from now fails

    static std::string key(const char* given) { return std::string(given, strnlen(given, 50)); }

    // One allocation as the library's storage wrapper sees it.
    bool obtain() { return !(countdown > 0 && --countdown == 0); }

    std::optional<std::size_t> find(const std::string& name) const {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].name == name) return i;
        return std::nullopt;
    }
    void rewind() { process_cursor = module_cursor = 0, filter = 0; }

    void init(const std::string& given, bool writable) {
        directory = given.substr(0, 515);
        directory_writable = writable;
        entries.clear();
        current.reset();
        counter = 0;
        tables = {};
    }

    [[nodiscard]] std::string next_file_name() const {
        char file_name[32];
        std::snprintf(file_name, sizeof file_name, "snp%05d.wrk", static_cast<int>(counter));
        return file_name;
    }
    [[nodiscard]] bool next_path_fits() const {
        return directory.size() + 1 + next_file_name().size() <= 515;
    }

    // A new entry, or none when its storage cannot be had.
    bool register_entry(const std::string& name) {
        if (!obtain()) return false;
        const std::string file_name = next_file_name();
        counter = counter == INT32_MAX ? 0 : counter + 1;
        entries.push_back({name, file_name, directory + "\\" + file_name});
        return true;
    }

    // The tables a capture appending these records leaves: a record whose
    // growth cannot be had is dropped, and the next append tries again.
    template <typename Record>
    std::vector<Record> appended(const std::vector<Record>& records) {
        std::vector<Record> kept;
        std::size_t capacity = 0;
        for (const Record& record : records) {
            if (kept.size() >= capacity) {
                if (!obtain()) continue;
                capacity += 40;
            }
            kept.push_back(record);
        }
        return kept;
    }

    // After the entry is registered: save what the capture left.
    std::int32_t save(const Tables& captured) {
        current = entries.size() - 1;
        tables = captured;
        rewind();
        const Entry& entry = entries.back();
        if (!entry.path_fits() || !directory_writable) return KORVEX_WORKFILE_CREATE_FAILED;
        disk[entry.path] = work_file_bytes(captured);
        return KORVEX_OK;
    }

    // The reader: counts bounded by the bytes left before storage is taken.
    bool load(const Bytes& file, Tables& out) {
        const DecodedWorkFile decoded = decode_work_file(file);
        if (decoded.processes < 0 || (decoded.processes > 0 && !obtain())) return false;
        if (decoded.modules < 0 || (decoded.modules > 0 && !obtain())) return false;
        out.processes = decoded.process_records;
        out.modules = decoded.module_records;
        return true;
    }

    std::int32_t select(const std::string& name) {
        if (current && entries[*current].name == name) return rewind(), KORVEX_OK;
        current = find(name);
        tables = {};
        if (!current) return KORVEX_SNAPSHOT_NOT_FOUND;
        const Entry& entry = entries[*current];
        if (!entry.path_fits()) return KORVEX_WORKFILE_LOAD_FAILED;
        const auto file = disk.find(entry.path);
        Tables loaded;
        if (file == disk.end() || !load(file->second, loaded)) return KORVEX_WORKFILE_LOAD_FAILED;
        tables = loaded;
        rewind();
        return KORVEX_OK;
    }

    std::int32_t remove(const std::string& name) {
        const auto found = find(name);
        if (!found) return KORVEX_SNAPSHOT_NOT_FOUND;
        if (entries[*found].path_fits()) disk.erase(entries[*found].path);
        if (current == found) {
            current.reset();
            tables = {};
        } else if (current && *current > *found) {
            --*current;
        }
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(*found));
        return KORVEX_OK;
    }

    // The records a page holds; the answer as the read gives it.
    std::int32_t read_processes(std::vector<ProcessRecord>& page) {
        page.clear();
        if (!current) return KORVEX_NO_CURRENT_SNAPSHOT;
        const auto count = static_cast<std::int32_t>(tables.processes.size());
        if (process_cursor >= count) return KORVEX_READ_END;
        while (static_cast<std::int32_t>(page.size()) < rows && process_cursor < count)
            page.push_back(tables.processes[static_cast<std::size_t>(process_cursor++)]);
        return static_cast<std::int32_t>(page.size());
    }
    std::int32_t read_modules(std::vector<ModuleRecord>& page) {
        page.clear();
        if (!current) return KORVEX_NO_CURRENT_SNAPSHOT;
        const auto count = static_cast<std::int32_t>(tables.modules.size());
        if (module_cursor >= count) return KORVEX_READ_END;
        while (static_cast<std::int32_t>(page.size()) < rows && module_cursor < count) {
            const ModuleRecord& record = tables.modules[static_cast<std::size_t>(module_cursor++)];
            if (filter == 0 || record.dwProcessID == filter) page.push_back(record);
        }
        return static_cast<std::int32_t>(page.size());
    }
};

template <typename Record>
bool same_records(const Record* records, std::size_t count, const std::vector<Record>& expected) {
    return count == expected.size() &&
           (count == 0 || std::memcmp(records, expected.data(), count * sizeof(Record)) == 0);
}

template <typename Record>
bool consistent(const snapshot::RecordTable<Record>& table) {
    return table.count >= 0 && table.count <= table.capacity &&
           (table.count == 0 || table.records != nullptr) &&
           (table.capacity == 0) == (table.records == nullptr);
}

// The first way the library's list, tables and readout differ from the
// model's; empty when they agree.
inline std::string model_difference(const SnapshotModel& model) {
    namespace snap = korvex::snapshot;
    const snap::Registry& registry = snap::registry();
    const snap::SnapshotEntry* previous = nullptr;
    std::size_t index = 0;
    bool current_seen = registry.current == nullptr;
    for (const snap::SnapshotEntry* e = registry.list.head; e != nullptr;
         previous = e, e = e->next, ++index) {
        if (index >= model.entries.size()) return "more entries than the model has";
        if (e->previous != previous) return "broken previous link";
        if (model.entries[index].name != e->name)
            return "entry " + std::to_string(index) + ": name differs";
        if (model.entries[index].file_name != e->work_file_name)
            return "entry " + std::to_string(index) + ": work-file name differs";
        if (e == registry.current) {
            if (model.current != index) return "another entry is current";
            current_seen = true;
        }
    }
    if (index != model.entries.size()) return "fewer entries than the model has";
    if (registry.list.tail != previous) return "tail is not the last entry";
    if (!current_seen || (registry.current == nullptr) != !model.current.has_value())
        return "current snapshot differs";
    if (registry.counter != model.counter) return "counter differs";
    const auto& processes = snap::process_table();
    const auto& modules = snap::module_table();
    if (!consistent(processes) || !consistent(modules)) return "inconsistent table";
    if (!same_records(processes.records, static_cast<std::size_t>(processes.count),
                      model.tables.processes))
        return "process table differs";
    if (!same_records(modules.records, static_cast<std::size_t>(modules.count),
                      model.tables.modules))
        return "module table differs";
    const snap::ReadoutState& readout = snap::readout_state();
    if (readout.rows_per_call != model.rows || readout.process_cursor != model.process_cursor ||
        readout.module_cursor != model.module_cursor || readout.process_filter != model.filter)
        return "readout state differs";
    return {};
}

}  // namespace korvex::test
