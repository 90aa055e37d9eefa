#include "pe/version_record.h"

#include <cstdio>

namespace korvex::host {

namespace img = korvex::image;

namespace {

constexpr std::uint32_t fixed_info_signature = 0xFEEF04BD;
constexpr std::uint32_t fixed_info_size = 52;

std::uint64_t align4(std::uint64_t offset) { return (offset + 3) & ~std::uint64_t{3}; }

// One block of the record: wLength, wValueLength, wType, the key, the value
// and the children, each 32-bit aligned from the record's start.
struct Block {
    std::uint64_t start = 0, end = 0;
    std::string key;
    std::uint64_t value_at = 0, value_bytes = 0;
    std::uint64_t children_at = 0;
};

std::optional<Block> read_block(img::ByteView bytes, std::uint64_t start, std::uint64_t limit) {
    const auto length = bytes.u16(start);
    const auto value_length = bytes.u16(start + 2);
    const auto type = bytes.u16(start + 4);
    if (!length || !type || *length < 6 || *length > limit - start) return std::nullopt;
    Block block;
    block.start = start;
    block.end = start + *length;
    std::uint64_t at = start + 6;
    std::uint64_t units = 0;
    while (at + 2 * units + 2 <= block.end && *bytes.u16(at + 2 * units) != 0) ++units;
    if (at + 2 * units + 2 > block.end) return std::nullopt;
    block.key = utf8_of_utf16(bytes.data() + at, units);
    block.value_at = align4(at + 2 * units + 2);
    // A text value's length counts characters; a binary one's, bytes.
    block.value_bytes = *type == 1 ? 2ull * *value_length : *value_length;
    if (block.value_at > block.end) block.value_at = block.end;
    block.value_bytes = std::min(block.value_bytes, block.end - block.value_at);
    block.children_at = align4(block.value_at + block.value_bytes);
    return block;
}

// Calls visit(child) for each child of `parent`; false when one was damaged.
template <typename Visit>
bool for_each_child(img::ByteView bytes, const Block& parent, Visit visit) {
    for (std::uint64_t at = parent.children_at; at + 6 <= parent.end;) {
        const auto child = read_block(bytes, at, parent.end);
        if (!child) return false;
        visit(*child);
        at = align4(child->end);
    }
    return true;
}

std::string version_text(std::uint32_t high, std::uint32_t low) {
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16,
                  low & 0xFFFF);
    return text;
}

std::string text_value(img::ByteView bytes, const Block& block) {
    // The length a string's value gives is often wrong (counted in bytes,
    // or without the NUL): the text runs to its NUL or its block's end.
    const std::uint64_t units = (block.end - block.value_at) / 2;
    return utf8_of_utf16(bytes.data() + block.value_at, static_cast<std::size_t>(units));
}

void read_strings(img::ByteView bytes, const Block& table, VersionRecord& record) {
    const bool whole = for_each_child(bytes, table, [&](const Block& string) {
        std::string* into = string.key == "CompanyName"        ? &record.company_name
                            : string.key == "ProductName"      ? &record.product_name
                            : string.key == "FileDescription"  ? &record.file_description
                            : string.key == "OriginalFilename" ? &record.original_filename
                                                               : nullptr;
        if (into != nullptr && into->empty()) *into = text_value(bytes, string);
    });
    if (!whole) record.damage = "a string's block runs past its table";
}

}  // namespace

VersionRecord parse_version_record(img::ByteView bytes) {
    VersionRecord record;
    const auto root = read_block(bytes, 0, bytes.size());
    if (!root || root->key != "VS_VERSION_INFO") {
        record.damage = "it does not start with a VS_VERSION_INFO block";
        return record;
    }
    if (root->value_bytes >= fixed_info_size && bytes.u32(root->value_at) == fixed_info_signature) {
        const std::uint64_t at = root->value_at;
        record.file_version = version_text(*bytes.u32(at + 8), *bytes.u32(at + 12));
        record.product_version = version_text(*bytes.u32(at + 16), *bytes.u32(at + 20));
    }
    bool tables_seen = false;
    const bool whole = for_each_child(bytes, *root, [&](const Block& info) {
        if (info.key != "StringFileInfo" || tables_seen) return;
        tables_seen = true;
        const bool tables_whole = for_each_child(bytes, info, [&](const Block& table) {
            if (!record.language.empty()) return;
            record.language = table.key;
            read_strings(bytes, table, record);
        });
        if (!tables_whole && record.damage.empty())
            record.damage = "a string table's block runs past its parent";
    });
    if (!whole && record.damage.empty()) record.damage = "a block runs past the record";
    return record;
}

std::optional<VersionRecord> read_version_record(const img::PeImage& image,
                                                 const ResourceFind& resources) {
    if (resources.versions.empty()) return std::nullopt;
    const ResourceItem& item = resources.versions.front();
    if (item.size > max_version_bytes) {
        VersionRecord record;
        record.damage = "it is longer than the 65,535 bytes a record can hold";
        return record;
    }
    const auto bytes = resource_bytes(image, item);
    if (!bytes) {
        VersionRecord record;
        record.damage = "it lies outside the file";
        return record;
    }
    return parse_version_record(*bytes);
}

}  // namespace korvex::host
