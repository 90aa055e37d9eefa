// Virtual module names (api-ms-win-*, ext-ms-*) and the DLLs that host them,
// as the API-set schema of a system folder's apisetschema.dll gives them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/byte_view.h"
#include "image_readers/pe_image.h"

namespace korvex::host {

// True for a name the loader looks up in the schema first: it begins with
// "api-" or "ext-", in any case.
bool is_api_set_name(const std::string& name);

class ApiSets {
public:
    // No sets: every name goes on to the folder search.
    ApiSets() = default;
    // The schema of an apisetschema.dll's bytes; a file without a version-6
    // schema gives an empty table. So does one that passes a limit (more
    // than max_sets entries or max_values_per_set hosts in one, a name longer
    // than max_name_bytes, more text than its InputBudget, or more than
    // work_per_byte times its size in text read): then problem() says which.
    explicit ApiSets(image::ByteView file);
    // The same from the file's headers as already parsed.
    explicit ApiSets(const image::PeImage& image);

    static constexpr std::uint32_t max_sets = 65536;
    static constexpr std::uint32_t max_values_per_set = 64;
    static constexpr std::uint64_t work_per_byte = 16;

    [[nodiscard]] bool empty() const { return sets_.empty(); }
    // Why the schema was not used, after the file's name; empty when it was.
    [[nodiscard]] const std::string& problem() const { return problem_; }

    struct Resolution {
        bool known = false;  // the schema has the set
        std::string host;    // empty: the set has no host here
    };
    // The host of `name` (with or without ".dll", any case) for a module
    // imported by `importer`: the schema's entry matched without its last
    // "-N", and that entry's value for `importer` when it has one, else its
    // first value.
    [[nodiscard]] Resolution resolve(const std::string& name, const std::string& importer) const;

private:
    struct Value {
        std::string importer;  // lower case; empty for the default
        std::string host;
    };
    void read(const image::PeImage& image);

    std::unordered_map<std::string, std::vector<Value>> sets_;  // lower-case name without "-N"
    std::string problem_;
};

}  // namespace korvex::host
