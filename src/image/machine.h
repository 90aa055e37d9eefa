// The machine an executable is built for (the file header's Machine field),
// in the words tools show it.
#pragma once

#include <cstdint>
#include <optional>

#include "image/byte_view.h"

namespace korvex::image {

inline constexpr std::uint16_t machine_i386 = 0x014C;
inline constexpr std::uint16_t machine_x86_64 = 0x8664;
inline constexpr std::uint16_t machine_arm64 = 0xAA64;

// The Machine field of a PE image; nothing when the file has no "PE\0\0"
// signature at e_lfanew or the field lies outside the file.
std::optional<std::uint16_t> read_machine(ByteView file) noexcept;

// "i386", "x86-64", "ARM64", "ARM", ... for the machines Windows runs;
// nullptr for any other value.
const char* machine_name(std::uint16_t machine) noexcept;

}  // namespace korvex::image
