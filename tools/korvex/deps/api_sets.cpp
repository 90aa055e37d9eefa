#include "deps/api_sets.h"

#include <new>

#include "core/text.h"
#include "image_readers/api_set_schema.h"
#include "image_readers/pe_image.h"
#include "pe/input_budget.h"

namespace korvex::host {

namespace {

namespace img = korvex::image;

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

// What one schema may cost: every text read is work, every text kept is
// memory; the first limit passed is the problem.
struct SchemaReading {
    std::uint64_t file_size;
    InputBudget budget;
    std::uint64_t work_left;
    std::string problem;

    bool fail(std::string why) {
        if (problem.empty()) problem = std::move(why);
        return false;
    }
    bool text(const img::WideText& text, bool kept) {
        if (text.length / 2 > max_name_bytes)
            return fail("is damaged: an API-set name is longer than " +
                        with_thousands(max_name_bytes) + " characters, the limit for any name");
        if (text.length > work_left)
            return fail("is hostile: its API-set schema takes more than " +
                        std::to_string(ApiSets::work_per_byte) +
                        " x the file's size in names to read");
        work_left -= text.length;
        return !kept || budget.take_string(text.length / 2 + InputBudget::node_overhead) ||
               fail(InputBudget::refusal(file_size));
    }
};

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

ApiSets::ApiSets(image::ByteView file) : ApiSets(img::PeImage::parse(file)) {}

ApiSets::ApiSets(const img::PeImage& image) {
    try {
        read(image);
    } catch (const std::bad_alloc&) {
        problem_ = "could not be read: korvex ran out of memory on its API-set schema";
    }
    if (!problem_.empty()) sets_.clear();
}

void ApiSets::read(const img::PeImage& image) {
    if (!image.placed()) return;
    const image::ByteView file = image.file();
    const auto schema = img::read_api_set_schema(image);
    if (!schema) return;
    SchemaReading reading{file.size(), InputBudget(file.size()), file.size() * work_per_byte, {}};
    if (reading.budget.exceeded()) return;
    for (std::uint32_t i = 0; i < schema->count; ++i) {
        if (i == max_sets) {
            problem_ = "is hostile: its API-set schema has more than " + with_thousands(max_sets) +
                       " sets, the limit";
            return;
        }
        const auto entry = img::api_set_entry(*schema, i);
        if (!entry) continue;
        if (!reading.text(entry->hashed_name, false)) break;
        std::string name = narrow_lower(entry->hashed_name);
        // The first entry of a name wins, as a search of the sorted table would find it.
        if (sets_.contains(name)) continue;
        if (entry->value_count > max_values_per_set) {
            reading.fail("is hostile: an API set in its schema has more than " +
                         std::to_string(max_values_per_set) + " hosts, the limit");
            break;
        }
        std::vector<Value> values;
        for (std::uint32_t v = 0; v < entry->value_count; ++v) {
            const auto value = img::api_set_value(*schema, *entry, v);
            if (!value) break;
            if (!reading.text(value->importer, true) || !reading.text(value->host, true)) break;
            values.push_back({narrow_lower(value->importer), narrow_lower(value->host)});
        }
        if (!reading.problem.empty() || !reading.text(entry->hashed_name, true)) break;
        sets_.emplace(std::move(name), std::move(values));
    }
    problem_ = std::move(reading.problem);
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
