#include "pe/debug_record.h"

#include <cstdio>
#include <cstring>

namespace korvex::host {

namespace img = korvex::image;

namespace {

constexpr std::uint32_t codeview = 2;

// The names Microsoft's PE format reference gives the types, as tools show them.
constexpr const char* type_names[] = {
    "unknown",    "COFF",           "CodeView",
    "FPO",        "misc",           "exception",
    "fixup",      "OMAP to source", "OMAP from source",
    "Borland",    "reserved",       "CLSID",
    "VC feature", "POGO",           "ILTCG",
    "MPX",        "repro",          "embedded portable PDB",
    "type 18",    "PDB checksum",   "extended DLL characteristics"};

std::string type_name(std::uint32_t type) {
    if (type < std::size(type_names)) return type_names[type];
    return "type " + std::to_string(type);
}

// Where an entry's data lies: at PointerToRawData, the place debuggers read
// it from, or through AddressOfRawData when the pointer is 0.
std::optional<std::uint64_t> data_at(const img::PeImage& image, std::uint32_t rva,
                                     std::uint32_t pointer, std::uint32_t size) {
    if (pointer != 0) {
        if (!image.file().contains(pointer, size)) return std::nullopt;
        return pointer;
    }
    if (rva == 0) return std::nullopt;
    return image.offset_of(rva, size);
}

// The PDB path: NUL-terminated inside the entry's data, at most
// max_name_length bytes.
std::string pdb_path(img::ByteView file, std::uint64_t at, std::uint64_t room) {
    const std::uint64_t scanned = std::min<std::uint64_t>(room, img::max_name_length);
    const auto* text = reinterpret_cast<const char*>(file.at(at, scanned));
    if (text == nullptr) return {};
    return std::string(text, strnlen(text, static_cast<std::size_t>(scanned)));
}

void read_codeview(img::ByteView file, std::uint64_t at, std::uint32_t size, DebugEntry& entry) {
    const auto signature = file.u32(at);
    if (!signature || size < 16) return;
    char text[64];
    if (*signature == 0x53445352 && size >= 24) {  // "RSDS"
        const std::uint8_t* guid = file.at(at + 4, 16);
        entry.format = "RSDS";
        std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                      img::ByteView::le32(guid), guid[4] | guid[5] << 8, guid[6] | guid[7] << 8,
                      guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
        entry.guid = text;
        entry.age = *file.u32(at + 20);
        entry.pdb_path = pdb_path(file, at + 24, size - 24);
    } else if (*signature == 0x3031424E) {  // "NB10"
        entry.format = "NB10";
        std::snprintf(text, sizeof text, "%08X", *file.u32(at + 8));
        entry.guid = text;
        entry.age = *file.u32(at + 12);
        entry.pdb_path = pdb_path(file, at + 16, size - 16);
    } else {
        return;
    }
    std::string key;
    for (const char c : entry.guid)
        if (c != '-') key += c;
    std::snprintf(text, sizeof text, "%X", entry.age);
    entry.symbol_key = key + text;
}

}  // namespace

DebugRecord read_debug_record(const img::PeImage& image) {
    DebugRecord record;
    const auto directory = image.directory(debug_directory);
    if (!image.placed() || !directory || directory->rva == 0 || directory->size == 0) return record;
    std::uint32_t count = directory->size / debug_entry_size;
    if (count > max_debug_entries) {
        record.damage = "its debug directory holds more than 64 entries: the first 64 are shown";
        count = max_debug_entries;
    }
    const img::ByteView file = image.file();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t rva = std::uint64_t{directory->rva} + i * debug_entry_size;
        const auto at = rva > 0xFFFFFFFFu
                            ? std::nullopt
                            : image.offset_of(static_cast<std::uint32_t>(rva), debug_entry_size);
        if (!at) {
            record.damage = "its debug directory runs outside the file";
            break;
        }
        DebugEntry entry;
        entry.type = *file.u32(*at + 12);
        entry.type_name = type_name(entry.type);
        const std::uint32_t size = *file.u32(*at + 16);
        if (entry.type == codeview) {
            const auto data = data_at(image, *file.u32(*at + 20), *file.u32(*at + 24), size);
            if (data)
                read_codeview(file, *data, size, entry);
            else if (record.damage.empty())
                record.damage = "its CodeView record lies outside the file";
        }
        record.entries.push_back(std::move(entry));
    }
    return record;
}

}  // namespace korvex::host
