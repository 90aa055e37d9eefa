// The name lists of the image the library holds, as the host reads them
// through the image exports: each asked for its size first and then filled,
// as every host must, and charged to the file's InputBudget as it is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/library.h"
#include "pe/input_budget.h"

namespace korvex::host {

// One imported function: by name, or by ordinal (then `name` is empty).
struct ImportedFunction {
    std::string name;
    std::optional<std::uint16_t> ordinal;
    // An import by ordinal: the name the exporting DLL gives that ordinal,
    // when the DLL was found (empty otherwise).
    std::string known_as = {};

    // The name, or the ordinal as the library writes it ("%5u").
    [[nodiscard]] std::string text() const;
    bool operator==(const ImportedFunction& other) const {
        return name == other.name && ordinal == other.ordinal;
    }
};

// The library writes an ordinal import as "%5u": five characters, blanks on
// the left. Anything else is a name.
ImportedFunction parse_imported_function(std::string entry);

// Splits a NameList (entries, each NUL-terminated, then one more NUL) into
// its entries; never reads past the list's end.
std::vector<std::string> split_name_list(const std::vector<char>& list);

// The lists of the file the library holds mapped, each asked for its size
// first and then filled, as every host must: the imported modules, the
// functions imported from one of them, the exported names. With a budget,
// each list and its entries are charged to it as they are kept: a list that
// does not fit comes back empty, with budget->exceeded() true.
std::vector<std::string> imported_modules(const Library& library, InputBudget* budget = nullptr);
std::vector<ImportedFunction> imported_functions(const Library& library, const std::string& module,
                                                 InputBudget* budget = nullptr);
std::vector<std::string> exported_names(const Library& library, InputBudget* budget = nullptr);

}  // namespace korvex::host
