// A reference model of the registry, the work files on disk, the tables and
// the paged readout, for the sequence fuzz target. It follows the library's
// documented behaviour call by call, including where storage is obtained
// (so a failing n-th allocation lands on the same step in both) and what the
// work-file reader accepts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::fuzz {

using Bytes = std::vector<std::uint8_t>;

struct Tables {
    std::vector<ProcessRecord> processes;
    std::vector<ModuleRecord> modules;
};

inline void put_count(Bytes& out, std::int32_t count) {
    const auto value = static_cast<std::uint32_t>(count);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline std::int32_t count_at(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

inline Bytes work_file_bytes(const Tables& tables) {
    Bytes out;
    put_count(out, static_cast<std::int32_t>(tables.processes.size()));
    const auto* p = reinterpret_cast<const std::uint8_t*>(tables.processes.data());
    out.insert(out.end(), p, p + tables.processes.size() * sizeof(ProcessRecord));
    put_count(out, static_cast<std::int32_t>(tables.modules.size()));
    const auto* m = reinterpret_cast<const std::uint8_t*>(tables.modules.data());
    out.insert(out.end(), m, m + tables.modules.size() * sizeof(ModuleRecord));
    return out;
}

struct Model {
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
    [[nodiscard]] bool next_path_fits() const { return directory.size() + 1 + next_file_name().size() <= 515; }

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
        std::uint64_t unread = file.size();
        if (unread < 4) return false;
        const std::int32_t processes = count_at(file, 0);
        unread -= 4;
        const std::uint64_t process_bytes = std::uint64_t(processes < 0 ? 0 : processes) * 296;
        if (processes < 0 || process_bytes > unread || 4 > unread - process_bytes) return false;
        if (processes > 0 && !obtain()) return false;
        unread -= process_bytes + 4;
        const std::size_t module_count_at = 4 + static_cast<std::size_t>(process_bytes);
        const std::int32_t modules = count_at(file, module_count_at);
        const std::uint64_t module_bytes = std::uint64_t(modules < 0 ? 0 : modules) * 332;
        if (modules < 0 || module_bytes > unread) return false;
        if (modules > 0 && !obtain()) return false;
        out.processes.resize(static_cast<std::size_t>(processes));
        out.modules.resize(static_cast<std::size_t>(modules));
        if (processes > 0) std::memcpy(out.processes.data(), file.data() + 4, process_bytes);
        if (modules > 0) std::memcpy(out.modules.data(), file.data() + module_count_at + 4, module_bytes);
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

}  // namespace korvex::fuzz
