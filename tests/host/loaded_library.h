// The built korvex32.dll, loaded once per test program as a host loads it.
#pragma once

#include <windows.h>

#include <string>

#include "korvex32.h"

namespace korvex::host_test {

HMODULE korvex_dll();

// The export at `ordinal`, typed like the header's declaration of it.
template <typename Function>
Function export_at(int ordinal) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(korvex_dll(), MAKEINTRESOURCEA(ordinal))));
}

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
