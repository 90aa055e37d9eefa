// Binds the exports of korvex32 at run time, by ordinal on Windows (as hosts
// written against the DLL do) and by name from the native shared library.
#pragma once

#include <string>

#include "korvex32.h"

namespace korvex::host {

struct Library {
    decltype(&SetRowsPerCall) set_rows_per_call = nullptr;
    decltype(&SetGetVersionNumber) set_get_version_number = nullptr;
    decltype(&InitSnapShots) init_snapshots = nullptr;
    decltype(&TakeSnapShot) take_snapshot = nullptr;
    decltype(&SelectSnapShot) select_snapshot = nullptr;
    decltype(&SelectProcess) select_process = nullptr;
    decltype(&ReadSnapShotModules) read_modules = nullptr;
    decltype(&ReadSnapShotProcesses) read_processes = nullptr;
    decltype(&ClearCurSnapShot) clear_current_snapshot = nullptr;
    decltype(&DeleteSnapShot) delete_snapshot = nullptr;
    decltype(&GetSnapShotWorkFile) get_work_file = nullptr;
    decltype(&NewSnapShotWorkFile) new_work_file = nullptr;
    decltype(&MapFile) map_file = nullptr;
    decltype(&UnmapFile) unmap_file = nullptr;
    decltype(&GetImportModuleNamesPE) import_modules = nullptr;
    decltype(&GetExportFunctionNamesPE) export_names = nullptr;
    decltype(&GetImportFuncNamesByModulePE) import_functions = nullptr;
    decltype(&GetVersionEx32) get_version = nullptr;
    decltype(&TerminateProc) terminate_process = nullptr;
    std::string path;     // the file loaded
    std::string version;  // its version record ("4.0.0.0"); empty natively, where there is none
};

// Loads the library that sits next to this program and binds every export.
// On failure answers false and says why in `error`.
bool load_library(Library& library, std::string& error);

}  // namespace korvex::host
