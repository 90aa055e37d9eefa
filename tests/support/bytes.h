// Little-endian writes into a byte vector that grows to fit, for building
// executables and work files in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace korvex::test {

inline void put_bytes(std::vector<std::uint8_t>& out, std::size_t offset, const void* data,
                      std::size_t length) {
    if (out.size() < offset + length) out.resize(offset + length);
    if (length != 0) std::memcpy(out.data() + offset, data, length);
}

inline void put16(std::vector<std::uint8_t>& out, std::size_t offset, std::uint16_t value) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value),
                                  static_cast<std::uint8_t>(value >> 8)};
    put_bytes(out, offset, bytes, sizeof bytes);
}

inline void put32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t value) {
    put16(out, offset, static_cast<std::uint16_t>(value));
    put16(out, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void put64(std::vector<std::uint8_t>& out, std::size_t offset, std::uint64_t value) {
    put32(out, offset, static_cast<std::uint32_t>(value));
    put32(out, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

// Writes the text and its terminating NUL.
inline void put_string(std::vector<std::uint8_t>& out, std::size_t offset, std::string_view text) {
    put_bytes(out, offset, text.data(), text.size());
    const std::uint8_t nul = 0;
    put_bytes(out, offset + text.size(), &nul, 1);
}

}  // namespace korvex::test
