// The exports of korvex32 with their fixed ordinals, written once. Hosts bind
// them by ordinal, so an ordinal never moves; korvex32.def (which the linker
// reads) is checked against this list by tests/dll_shape.cmake. The third
// column names the member a host binds the export to.
#pragma once

#include "korvex32.h"

#define KORVEX_EXPORT_TABLE(X)                            \
    X(SetRowsPerCall, 1, set_rows_per_call)               \
    X(SetGetVersionNumber, 2, set_get_version_number)     \
    X(InitSnapShots, 3, init_snapshots)                   \
    X(TakeSnapShot, 4, take_snapshot)                     \
    X(SelectSnapShot, 5, select_snapshot)                 \
    X(SelectProcess, 6, select_process)                   \
    X(ReadSnapShotModules, 7, read_modules)               \
    X(ReadSnapShotProcesses, 8, read_processes)           \
    X(ClearCurSnapShot, 9, clear_current_snapshot)        \
    X(DeleteSnapShot, 10, delete_snapshot)                \
    X(GetSnapShotWorkFile, 11, get_work_file)             \
    X(NewSnapShotWorkFile, 12, new_work_file)             \
    X(MapFile, 30, map_file)                              \
    X(UnmapFile, 31, unmap_file)                          \
    X(GetImportModuleNamesPE, 32, import_modules)         \
    X(GetExportFunctionNamesPE, 33, export_names)         \
    X(GetImportFuncNamesByModulePE, 34, import_functions) \
    X(GetVersionEx32, 40, get_version)                    \
    X(TerminateProc, 41, terminate_process)

namespace korvex {

// Every export, typed like its declaration in korvex32.h.
struct ExportFunctions {
#define KORVEX_EXPORT_MEMBER(name, ordinal, member) decltype(&::name) member = nullptr;
    KORVEX_EXPORT_TABLE(KORVEX_EXPORT_MEMBER)
#undef KORVEX_EXPORT_MEMBER
};

// Binds every member to `find(ordinal, name)` (a void*); answers the name of
// the first export not found, or nullptr when all were.
template <typename Find>
const char* bind_exports(ExportFunctions& functions, Find&& find) {
    const char* missing = nullptr;
#define KORVEX_EXPORT_BIND(name, ordinal, member)                                 \
    functions.member = reinterpret_cast<decltype(&::name)>(find(ordinal, #name)); \
    if (functions.member == nullptr && missing == nullptr) missing = #name;
    KORVEX_EXPORT_TABLE(KORVEX_EXPORT_BIND)
#undef KORVEX_EXPORT_BIND
    return missing;
}

}  // namespace korvex
