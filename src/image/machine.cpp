#include "image/machine.h"

namespace korvex::image {

namespace {
constexpr std::uint64_t lfanew_offset = 0x3C;
constexpr std::uint32_t pe_signature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t machine_at = 4;             // from the signature

struct MachineName {
    std::uint16_t machine;
    const char* name;
};
constexpr MachineName machine_names[] = {
    {machine_i386, "i386"}, {machine_x86_64, "x86-64"}, {machine_arm64, "ARM64"},
    {0x01C0, "ARM"},        {0x01C2, "Thumb"},          {0x01C4, "ARMv7"},
    {0xA641, "ARM64EC"},    {0xA64E, "ARM64X"},         {0x0200, "IA-64"},
    {0x0166, "MIPS"},       {0x01F0, "PowerPC"},        {0x5064, "RISC-V 64"},
};
}  // namespace

std::optional<std::uint16_t> read_machine(ByteView file) noexcept {
    const auto header = file.u32(lfanew_offset);
    if (!header || file.u32(*header) != pe_signature) return std::nullopt;
    return file.u16(std::uint64_t{*header} + machine_at);
}

const char* machine_name(std::uint16_t machine) noexcept {
    for (const auto& known : machine_names)
        if (known.machine == machine) return known.name;
    return nullptr;
}

}  // namespace korvex::image
