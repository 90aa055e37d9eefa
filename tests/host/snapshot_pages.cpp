#include "snapshot_pages.h"

#include <cstring>

#include "temp_dir.h"

namespace korvex::host_test {

namespace {

std::int32_t count_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

}  // namespace

bool SavedSnapshot::whole() const {
    return processes >= 0 && modules >= 0 &&
           bytes.size() == 8 + 296 * std::size_t(processes) + 332 * std::size_t(modules);
}

SavedSnapshot read_saved_snapshot(const std::string& path) {
    SavedSnapshot saved;
    saved.bytes = korvex::test::read_file(path);
    if (saved.bytes.size() < 4) return saved;
    const std::int32_t processes = count_at(saved.bytes, 0);
    if (processes < 0) return saved;
    const std::size_t module_count_at = 4 + 296 * static_cast<std::size_t>(processes);
    if (saved.bytes.size() < module_count_at + 4) return saved;
    const std::int32_t modules = count_at(saved.bytes, module_count_at);
    if (modules < 0 || saved.bytes.size() < module_count_at + 4 + 332 * std::size_t(modules)) return saved;
    saved.processes = processes;
    saved.modules = modules;
    saved.process_records.resize(static_cast<std::size_t>(processes));
    saved.module_records.resize(static_cast<std::size_t>(modules));
    if (processes > 0) std::memcpy(saved.process_records.data(), saved.bytes.data() + 4, 296 * std::size_t(processes));
    if (modules > 0)
        std::memcpy(saved.module_records.data(), saved.bytes.data() + module_count_at + 4,
                    332 * std::size_t(modules));
    return saved;
}

}  // namespace korvex::host_test
