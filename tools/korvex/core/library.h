// korvex's one face of korvex32: the library loaded from beside this
// program with every export bound (by ordinal on Windows, as hosts written
// against the DLL do; by name from the native shared library), and the
// image exports' answers as the host uses them. The snapshot exports are
// read through snapshot_pages.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/input_budget.h"
#include "export_table.h"

namespace korvex::host {

// Every export (export_table.h), the file loaded and its version record.
struct Library : ExportFunctions {
    std::string path;     // the file loaded
    std::string version;  // its version record ("4.0.0.0"); empty natively, where there is none
};

// Loads the library that sits next to this program and binds every export.
// On failure answers false and says why in `error`.
bool load_library(Library& library, std::string& error);

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
