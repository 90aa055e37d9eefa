#include "helper_processes.h"

#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <vector>

namespace korvex::bench {

namespace {

constinit std::vector<HANDLE> g_helpers;

// Loaded by every helper in addition to what the program imports: the DLLs
// a small desktop program typically has.
constexpr const char* helper_dlls[] = {
    "user32.dll",   "gdi32.dll",    "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "shlwapi.dll",  "ws2_32.dll",  "winmm.dll",
};

}  // namespace

int start_helper_processes(int count) {
    if (count <= 0) return 0;
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    // Every helper releases this semaphore once its DLLs are loaded.
    char ready_name[64];
    std::snprintf(ready_name, sizeof ready_name, "korvex-bench-ready-%lu", GetCurrentProcessId());
    HANDLE ready = CreateSemaphoreA(nullptr, 0, count, ready_name);
    if (ready == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        char command[MAX_PATH + 96];
        std::snprintf(command, sizeof command, "\"%s\" --sleep %s", program, ready_name);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child))
            break;
        CloseHandle(child.hThread);
        g_helpers.push_back(child.hProcess);
    }
    int ready_count = 0;
    while (ready_count < static_cast<int>(g_helpers.size()) &&
           WaitForSingleObject(ready, 30000) == WAIT_OBJECT_0)
        ++ready_count;
    CloseHandle(ready);
    return ready_count;
}

void stop_helper_processes() {
    for (HANDLE helper : g_helpers) {
        TerminateProcess(helper, 0);
        WaitForSingleObject(helper, 5000);
        CloseHandle(helper);
    }
    g_helpers.clear();
}

int helper_process_main(const char* ready_name) {
    for (const char* dll : helper_dlls) LoadLibraryA(dll);
    if (HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, ready_name)) {
        ReleaseSemaphore(ready, 1, nullptr);
        CloseHandle(ready);
    }
    Sleep(600000);
    return 0;
}

}  // namespace korvex::bench

#else

namespace korvex::bench {
int start_helper_processes(int) { return 0; }
void stop_helper_processes() {}
int helper_process_main(const char*) { return 0; }
}  // namespace korvex::bench

#endif
