#include "image_readers/api_set_schema.h"

#include <algorithm>

namespace korvex::image {

namespace {
constexpr std::uint32_t supported_version = 6;
constexpr std::uint64_t namespace_size = 28;
constexpr std::uint64_t count_at = 12;
constexpr std::uint64_t entry_offset_at = 16;

constexpr std::uint64_t entry_size = 24;
constexpr std::uint64_t entry_name_at = 4;
constexpr std::uint64_t entry_name_length_at = 8;
constexpr std::uint64_t entry_hashed_length_at = 12;
constexpr std::uint64_t entry_values_at = 16;
constexpr std::uint64_t entry_value_count_at = 20;

constexpr std::uint64_t value_size = 20;
constexpr std::uint64_t value_name_at = 4;
constexpr std::uint64_t value_name_length_at = 8;
constexpr std::uint64_t value_host_at = 12;
constexpr std::uint64_t value_host_length_at = 16;

std::optional<WideText> text_at(ByteView data, std::uint64_t offset_field,
                                std::uint64_t length_field) {
    const std::uint32_t offset = *data.u32(offset_field);
    const std::uint32_t length = *data.u32(length_field);
    if (length % 2 != 0) return std::nullopt;
    if (length == 0) return WideText{};
    const std::uint8_t* bytes = data.at(offset, length);
    if (bytes == nullptr) return std::nullopt;
    return WideText{bytes, length};
}
}  // namespace

std::optional<ApiSetSchema> read_api_set_schema(const PeImage& image) noexcept {
    const ByteView data = image.section_data(".apiset");
    if (!data.contains(0, namespace_size) || *data.u32(0) != supported_version) return std::nullopt;
    ApiSetSchema schema;
    schema.data = data;
    schema.entries = *data.u32(entry_offset_at);
    const std::uint64_t fit =
        schema.entries <= data.size() ? (data.size() - schema.entries) / entry_size : 0;
    schema.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(*data.u32(count_at), fit));
    return schema;
}

std::optional<ApiSetEntry> api_set_entry(const ApiSetSchema& schema, std::uint32_t index) noexcept {
    if (index >= schema.count) return std::nullopt;
    const ByteView data = schema.data;
    const std::uint64_t at = schema.entries + std::uint64_t{index} * entry_size;
    if (!data.contains(at, entry_size)) return std::nullopt;
    const auto name = text_at(data, at + entry_name_at, at + entry_name_length_at);
    const std::uint32_t hashed = *data.u32(at + entry_hashed_length_at);
    if (!name || hashed > name->length || hashed % 2 != 0) return std::nullopt;
    ApiSetEntry entry;
    entry.name = *name;
    entry.hashed_name = WideText{name->bytes, hashed};
    entry.values = *data.u32(at + entry_values_at);
    entry.value_count = *data.u32(at + entry_value_count_at);
    return entry;
}

std::optional<ApiSetValue> api_set_value(const ApiSetSchema& schema, const ApiSetEntry& entry,
                                         std::uint32_t index) noexcept {
    if (index >= entry.value_count) return std::nullopt;
    const ByteView data = schema.data;
    const std::uint64_t at = entry.values + std::uint64_t{index} * value_size;
    if (!data.contains(at, value_size)) return std::nullopt;
    const auto importer = text_at(data, at + value_name_at, at + value_name_length_at);
    const auto host = text_at(data, at + value_host_at, at + value_host_length_at);
    if (!importer || !host) return std::nullopt;
    return ApiSetValue{*importer, *host};
}

}  // namespace korvex::image
