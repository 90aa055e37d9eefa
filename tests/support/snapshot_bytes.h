// A snapshot as bytes, for tests and fuzzers alike (no GoogleTest here): the
// work file's encoding (process count, records, module count, records; counts
// 32-bit little-endian) both ways, and the paged readout gathered as a host
// gathers it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "korvex32.h"

namespace korvex::test {

using Bytes = std::vector<std::uint8_t>;

inline std::int32_t count_at(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

template <typename Record>
Bytes record_bytes(const std::vector<Record>& records) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(records.data());
    return Bytes(raw, raw + records.size() * sizeof(Record));
}

// The same records, byte for byte.
template <typename Record>
bool same_records(const std::vector<Record>& a, const std::vector<Record>& b) {
    return record_bytes(a) == record_bytes(b);
}

inline Bytes work_file_bytes(const std::vector<ProcessRecord>& processes,
                             const std::vector<ModuleRecord>& modules) {
    Bytes out;
    put32(out, 0, static_cast<std::uint32_t>(processes.size()));
    put_bytes(out, out.size(), processes.data(), processes.size() * sizeof(ProcessRecord));
    put32(out, out.size(), static_cast<std::uint32_t>(modules.size()));
    put_bytes(out, out.size(), modules.data(), modules.size() * sizeof(ModuleRecord));
    return out;
}

// A work file read back the way the library's reader takes it: `processes`
// stays -1 unless the process records and the module count are all there,
// `modules` stays -1 unless the module records are too. Bytes past the
// module records are left over, as the reader leaves them.
struct DecodedWorkFile {
    std::int32_t processes = -1;
    std::int32_t modules = -1;
    std::vector<ProcessRecord> process_records;
    std::vector<ModuleRecord> module_records;
    bool exact_length = false;  // nothing left over
};

inline DecodedWorkFile decode_work_file(const Bytes& file) {
    DecodedWorkFile decoded;
    if (file.size() < 4) return decoded;
    const std::int32_t processes = count_at(file, 0);
    const std::uint64_t process_bytes =
        std::uint64_t(processes < 0 ? 0 : processes) * sizeof(ProcessRecord);
    if (processes < 0 || process_bytes + 8 > file.size()) return decoded;
    decoded.processes = processes;
    const std::size_t module_count_at = 4 + static_cast<std::size_t>(process_bytes);
    const std::int32_t modules = count_at(file, module_count_at);
    const std::uint64_t module_bytes =
        std::uint64_t(modules < 0 ? 0 : modules) * sizeof(ModuleRecord);
    if (modules < 0 || module_count_at + 4 + module_bytes > file.size()) return decoded;
    decoded.modules = modules;
    // Both parts fit in the file, so their sizes fit in a size_t.
    decoded.process_records.resize(static_cast<std::size_t>(processes));
    decoded.module_records.resize(static_cast<std::size_t>(modules));
    if (processes > 0)
        std::memcpy(decoded.process_records.data(), file.data() + 4,
                    static_cast<std::size_t>(process_bytes));
    if (modules > 0)
        std::memcpy(decoded.module_records.data(), file.data() + module_count_at + 4,
                    static_cast<std::size_t>(module_bytes));
    decoded.exact_length = module_count_at + 4 + module_bytes == file.size();
    return decoded;
}

// Every page until the end code, as bytes. A full page of exactly 100
// records and the end code are the same number: `expected`, the records
// there are still to read, tells them apart. `ok` turns false, and reading
// stops, when a page answers outside 0..rows or the pages hold more than
// `expected`. `results`, when given, collects every answer. The page buffer
// holds no more than `expected` records (a page cannot be longer), so that a
// setting of 2^31 - 1 needs no gigabytes and a sanitizer catches a read that
// writes past its page.
template <typename Record, typename Read>
Bytes read_all_pages(Read read, std::int32_t rows, std::size_t expected, bool& ok,
                     std::vector<std::int32_t>* results = nullptr) {
    std::vector<Record> page(
        std::max<std::size_t>(1, std::min(static_cast<std::size_t>(rows), expected)));
    Bytes out;
    ok = true;
    for (;;) {
        const std::int32_t result = read(page.data());
        if (results != nullptr) results->push_back(result);
        if (result == KORVEX_READ_END && out.size() / sizeof(Record) + 100 > expected) return out;
        if (result < 0 || result > rows || out.size() / sizeof(Record) > expected) {
            ok = false;
            return out;
        }
        const auto* raw = reinterpret_cast<const std::uint8_t*>(page.data());
        out.insert(out.end(), raw, raw + static_cast<std::size_t>(result) * sizeof(Record));
    }
}

}  // namespace korvex::test
