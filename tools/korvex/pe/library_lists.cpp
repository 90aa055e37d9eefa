#include "pe/library_lists.h"

#include <algorithm>
#include <cstdio>

namespace korvex::host {

namespace {

// A list of `size` bytes is held twice while it is split.
bool list_fits(InputBudget* budget, std::int32_t size) {
    return budget == nullptr || budget->take(2 * static_cast<std::uint64_t>(size));
}

// Each entry kept: its object, twice for the vector's growth, and its text.
template <typename Entry, std::uint64_t entry_bytes>
bool entries_fit(InputBudget* budget, const std::vector<std::string>& names) {
    if (budget == nullptr) return true;
    for (const auto& name : names)
        if (!budget->take(2 * wide_size<Entry, entry_bytes>()) || !budget->take_string(name.size()))
            return false;
    return true;
}

// Size query, then fill, of a name list that takes a buffer or null.
std::vector<std::string> read_list(std::int32_t(KORVEX_API* list)(char*), InputBudget* budget) {
    const std::int32_t size = list(nullptr);
    if (size <= 0 || !list_fits(budget, size)) return {};
    std::vector<char> buffer(static_cast<std::size_t>(size));
    list(buffer.data());
    auto names = split_name_list(buffer);
    if (!entries_fit<std::string, InputBudget::string_bytes>(budget, names)) return {};
    return names;
}

}  // namespace

std::string ImportedFunction::text() const {
    if (!ordinal) return name;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%5u", static_cast<unsigned>(*ordinal));
    return digits;
}

ImportedFunction parse_imported_function(std::string entry) {
    if (entry.size() == 5 && entry.back() != ' ') {
        unsigned value = 0;
        bool digits = false, number = true;
        for (const char c : entry) {
            if (c == ' ' && !digits) continue;
            if (c < '0' || c > '9') number = false;
            digits = true;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (number && value <= 0xFFFF) return {{}, static_cast<std::uint16_t>(value)};
    }
    return {std::move(entry), std::nullopt};
}

std::vector<std::string> split_name_list(const std::vector<char>& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < list.size() && list[start] != '\0') {
        std::size_t end = start;
        while (end < list.size() && list[end] != '\0') ++end;
        names.emplace_back(list.data() + start, end - start);
        start = end + 1;
    }
    return names;
}

std::vector<std::string> imported_modules(const Library& library, InputBudget* budget) {
    return read_list(library.import_modules, budget);
}

std::vector<ImportedFunction> imported_functions(const Library& library, const std::string& module,
                                                 InputBudget* budget) {
    // The request is the mode byte and the module name; the fill overwrites
    // it, so the buffer is at least as long as the request too.
    std::vector<char> request(module.size() + 2, '\0');
    request[0] = '0';
    module.copy(request.data() + 1, module.size());
    const std::int32_t size = library.import_functions(request.data());
    if (size <= 0 || !list_fits(budget, size)) return {};
    std::vector<char> buffer(std::max(request.size(), static_cast<std::size_t>(size)), '\0');
    std::copy(request.begin(), request.end(), buffer.begin());
    buffer[0] = '1';
    library.import_functions(buffer.data());
    buffer.resize(static_cast<std::size_t>(size));
    auto entries = split_name_list(buffer);
    if (!entries_fit<ImportedFunction, 72>(budget, entries)) return {};
    std::vector<ImportedFunction> functions;
    for (auto& entry : entries) functions.push_back(parse_imported_function(std::move(entry)));
    return functions;
}

std::vector<std::string> exported_names(const Library& library, InputBudget* budget) {
    return read_list(library.export_names, budget);
}

}  // namespace korvex::host
