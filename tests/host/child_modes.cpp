#include "child_modes.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace korvex::host_test {

namespace {

// DLLs a short-lived child loads, so module lists change while they are walked.
const char* const churn_dlls[] = {"version.dll", "psapi.dll", "shlwapi.dll", "imagehlp.dll"};

int load_dlls() {
    HMODULE loaded[std::size(churn_dlls)] = {};
    for (std::size_t i = 0; i < std::size(churn_dlls); ++i) loaded[i] = LoadLibraryA(churn_dlls[i]);
    for (HMODULE module : loaded)
        if (module != nullptr) FreeLibrary(module);
    return 0;
}

HANDLE start_load_dlls_child() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --child load-dlls";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child))
        return nullptr;
    CloseHandle(child.hThread);
    return child.hProcess;
}

int churn(DWORD milliseconds) {
    constexpr DWORD at_once = 3;
    HANDLE running[at_once] = {};
    DWORD count = 0;
    int started = 0;
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        if (count == at_once) {
            const DWORD ended = WaitForMultipleObjects(count, running, FALSE, 10000);
            if (ended >= WAIT_OBJECT_0 + count) break;
            CloseHandle(running[ended - WAIT_OBJECT_0]);
            running[ended - WAIT_OBJECT_0] = running[--count];
        }
        HANDLE child = start_load_dlls_child();
        if (child == nullptr) break;
        running[count++] = child;
        ++started;
    }
    if (count > 0) WaitForMultipleObjects(count, running, TRUE, 10000);
    for (DWORD i = 0; i < count; ++i) CloseHandle(running[i]);
    return started > 255 ? 255 : started;
}

}  // namespace

int run_child_mode(int argc, char** argv) {
    if (std::strcmp(argv[0], "try-write") == 0 && argc == 2) {
        HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(file);
        return 0;
    }
    if (std::strcmp(argv[0], "sleep") == 0 && argc == 2) {
        Sleep(static_cast<DWORD>(std::atoi(argv[1])));
        return 7;
    }
    if (std::strcmp(argv[0], "load-dlls") == 0) return load_dlls();
    if (std::strcmp(argv[0], "churn") == 0 && argc == 2)
        return churn(static_cast<DWORD>(std::atoi(argv[1])));
    return 99;
}

}  // namespace korvex::host_test
