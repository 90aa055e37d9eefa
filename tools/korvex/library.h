// Binds the exports of korvex32 at run time, by ordinal on Windows (as hosts
// written against the DLL do) and by name from the native shared library.
#pragma once

#include <string>

#include "korvex32.h"

namespace korvex::host {

struct Library {
    decltype(&MapFile) map_file = nullptr;
    decltype(&UnmapFile) unmap_file = nullptr;
    decltype(&GetVersionEx32) get_version = nullptr;
    decltype(&TerminateProc) terminate_process = nullptr;
};

// Loads the library that sits next to this program. On failure answers false
// and says why in `error`.
bool load_library(Library& library, std::string& error);

}  // namespace korvex::host
