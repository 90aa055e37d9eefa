#include "deps/api_sets.h"

#include "core/text.h"
#include "image_readers/api_set_schema.h"
#include "image_readers/section_map.h"

namespace korvex::host {

namespace {

namespace img = korvex::image;

// Real sets name one or two hosts; the bound keeps a crafted schema whose
// entries all claim huge value counts from costing its size per entry.
constexpr std::uint32_t max_values_per_set = 64;

// Schema names are ASCII; anything else becomes '?' (and matches no import).
std::string narrow_lower(const img::WideText& text) {
    std::string out;
    out.reserve(text.length / 2);
    for (std::uint32_t i = 0; i + 1 < text.length; i += 2) {
        const unsigned unit = text.bytes[i] | text.bytes[i + 1] << 8;
        out += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return lower_ascii(std::move(out));
}

std::string without_dll(std::string name) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0)
        name.resize(name.size() - 4);
    return name;
}

}  // namespace

bool is_api_set_name(const std::string& name) {
    const std::string prefix = lower_ascii(name.substr(0, 4));
    return prefix == "api-" || prefix == "ext-";
}

ApiSets::ApiSets(image::ByteView file) {
    const auto image = img::SectionMap::read(file);
    if (!image) return;
    const auto schema = img::read_api_set_schema(*image);
    if (!schema) return;
    for (std::uint32_t i = 0; i < schema->count; ++i) {
        const auto entry = img::api_set_entry(*schema, i);
        if (!entry) continue;
        std::vector<Value> values;
        for (std::uint32_t v = 0; v < entry->value_count && v < max_values_per_set; ++v) {
            const auto value = img::api_set_value(*schema, *entry, v);
            if (!value) break;
            values.push_back({narrow_lower(value->importer), narrow_lower(value->host)});
        }
        // The first entry of a name wins, as a search of the sorted table would find it.
        sets_.emplace(narrow_lower(entry->hashed_name), std::move(values));
    }
}

ApiSets::Resolution ApiSets::resolve(const std::string& name, const std::string& importer) const {
    const std::string set = without_dll(lower_ascii(name));
    const auto hyphen = set.rfind('-');
    if (hyphen == std::string::npos) return {};
    const auto found = sets_.find(set.substr(0, hyphen));
    if (found == sets_.end()) return {};
    const auto& values = found->second;
    if (values.empty()) return {true, {}};
    const std::string importer_name = lower_ascii(importer);
    for (std::size_t i = 1; i < values.size(); ++i)
        if (values[i].importer == importer_name) return {true, values[i].host};
    return {true, values[0].host};
}

}  // namespace korvex::host
