#include "pe/other_formats.h"

#include <cstdint>

namespace korvex::host {

namespace {

std::uint32_t big_endian_u32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

struct Signature {
    std::string_view magic;
    const char* words;
};

// Signatures that name one format alone. A.out and COFF objects are left
// out: their magics are two bytes that plenty of other files begin with.
constexpr Signature signatures[] = {
    {"\x7F"
     "ELF",
     "an ELF file (a Linux or Unix program or library)"},
    // Mach-O, 32-bit and 64-bit, as written on either kind of machine.
    {"\xFE\xED\xFA\xCE", "a Mach-O file (a macOS program or library)"},
    {"\xCE\xFA\xED\xFE", "a Mach-O file (a macOS program or library)"},
    {"\xFE\xED\xFA\xCF", "a Mach-O file (a macOS program or library)"},
    {"\xCF\xFA\xED\xFE", "a Mach-O file (a macOS program or library)"},
    // The 64-bit fat header; the 32-bit one shares its magic with Java (below).
    {"\xCA\xFE\xBA\xBF", "a universal Mach-O file (a macOS program or library)"},
    {"\xBF\xBA\xFE\xCA", "a universal Mach-O file (a macOS program or library)"},
    {std::string_view("\0asm", 4), "a WebAssembly module"},
    {"#!", "a script (it begins with #!)"},
    {"!<arch>\n", "an ar archive (a static or import library)"},
    {"PK\x03\x04", "a ZIP archive"},
    {"PK\x05\x06", "a ZIP archive"},
    {"\x1F\x8B", "a gzip file"},
    {std::string_view("\xFD"
                      "7zXZ\0",
                      6),
     "an xz file"},
    {"7z\xBC\xAF\x27\x1C", "a 7-Zip archive"},
    {"%PDF-", "a PDF document"},
};

}  // namespace

std::string other_format(std::string_view start) {
    // Java class files and 32-bit universal Mach-O files share CAFEBABE; the
    // word after it is a universal file's count of architectures (a few) and
    // a class file's version (45 and up), the test file(1) makes.
    if (start.size() >= 8 && big_endian_u32(start, 0) == 0xCAFEBABE)
        return big_endian_u32(start, 4) < 45
                   ? "a universal Mach-O file (a macOS program or library)"
                   : "a Java class file";
    if (start.size() >= 8 && big_endian_u32(start, 0) == 0xBEBAFECA)
        return "a universal Mach-O file (a macOS program or library)";
    for (const auto& signature : signatures)
        if (start.substr(0, signature.magic.size()) == signature.magic) return signature.words;
    return {};
}

}  // namespace korvex::host
