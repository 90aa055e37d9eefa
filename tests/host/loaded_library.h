// The built korvex32.dll, loaded once per test program as a host loads it.
#pragma once

#include <windows.h>

#include <string>

#include "export_table.h"

namespace korvex::host_test {

HMODULE korvex_dll();

// Binds every export of `module` by ordinal, as a host binds them; answers
// the name of the first one missing, or nullptr.
const char* bind_by_ordinal(ExportFunctions& exports, HMODULE module);

// The exports of korvex_dll(), each under its name in export_table.h.
const ExportFunctions& korvex_exports();
#define KORVEX_HOST_TEST_EXPORT(name, ordinal, member) \
    inline const auto member = korvex_exports().member;
KORVEX_EXPORT_TABLE(KORVEX_HOST_TEST_EXPORT)
#undef KORVEX_HOST_TEST_EXPORT

// Path of this test program, for starting it again as a child.
std::string this_program();

// Starts this program again with `arguments`; the process handle and id of
// the child, or a null handle when it could not be started. The caller
// closes the handle.
PROCESS_INFORMATION start_child(const std::string& arguments);

// Starts this program again with `arguments` and answers its exit code, or
// -1 when it could not be started or did not end within `timeout_ms`.
long run_child(const std::string& arguments, DWORD timeout_ms = 30000);

// The Windows system folder (where kernel32.dll lives), with a trailing backslash.
std::string system_folder();

}  // namespace korvex::host_test
