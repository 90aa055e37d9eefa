// Binds the exports of korvex32 at run time, by ordinal on Windows (as hosts
// written against the DLL do) and by name from the native shared library.
#pragma once

#include <string>

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

}  // namespace korvex::host
