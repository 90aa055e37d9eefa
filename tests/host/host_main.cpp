// Test program that drives korvex32.dll through LoadLibrary/GetProcAddress.
// Started with "--child MODE ..." it plays the child process some tests need.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "child_modes.h"
#include "loaded_library.h"

namespace korvex::host_test {

HMODULE korvex_dll() {
    static HMODULE module = LoadLibraryA(KORVEX_DLL_PATH);
    return module;
}

const char* bind_by_ordinal(ExportFunctions& exports, HMODULE module) {
    return bind_exports(exports, [module](int ordinal, const char*) {
        return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
    });
}

const ExportFunctions& korvex_exports() {
    static const ExportFunctions exports = [] {
        ExportFunctions bound;
        bind_by_ordinal(bound, korvex_dll());
        return bound;
    }();
    return exports;
}

std::string this_program() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

PROCESS_INFORMATION start_child(const std::string& arguments) {
    std::string command = "\"" + this_program() + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child))
        return PROCESS_INFORMATION{};
    CloseHandle(child.hThread);
    child.hThread = nullptr;
    return child;
}

long run_child(const std::string& arguments, DWORD timeout_ms) {
    const PROCESS_INFORMATION child = start_child(arguments);
    if (child.hProcess == nullptr) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(child.hProcess, timeout_ms) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child.hProcess, &code)) {
        TerminateProcess(child.hProcess, 1);
        code = static_cast<DWORD>(-1);
    }
    CloseHandle(child.hProcess);
    return static_cast<long>(code);
}

std::string system_folder() {
    char path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, length) + "\\";
}

}  // namespace korvex::host_test

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return korvex::host_test::run_child_mode(argc - 2, argv + 2);
    testing::InitGoogleTest(&argc, argv);
    if (korvex::host_test::korvex_dll() == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", KORVEX_DLL_PATH);
        return 1;
    }
    return RUN_ALL_TESTS();
}
