// The work file's layout: process count, ProcessRecords, module count,
// ModuleRecords. No header, magic or checksum; counts are 32-bit signed
// little-endian, records are stored byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "korvex32.h"

namespace korvex::snapshot {

inline constexpr std::size_t work_file_count_size = 4;

// Counts are encoded byte by byte so the file is little-endian whatever the
// host's byte order.
inline void encode_count(std::int32_t count, unsigned char (&bytes)[work_file_count_size]) noexcept {
    const auto value = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < work_file_count_size; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::int32_t decode_count(const unsigned char (&bytes)[work_file_count_size]) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < work_file_count_size; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

// Length of a work file holding `processes` and `modules` records.
constexpr std::uint64_t work_file_size(std::uint64_t processes, std::uint64_t modules) noexcept {
    return 2 * work_file_count_size + processes * sizeof(ProcessRecord) +
           modules * sizeof(ModuleRecord);
}

}  // namespace korvex::snapshot
