#include "helper_processes.h"

#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <vector>

namespace korvex::bench {

namespace {
constinit std::vector<HANDLE> g_helpers;
}  // namespace

int start_helper_processes(int count) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    for (int i = 0; i < count; ++i) {
        char command[MAX_PATH + 16];
        std::snprintf(command, sizeof command, "\"%s\" --sleep", program);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child))
            break;
        CloseHandle(child.hThread);
        WaitForInputIdle(child.hProcess, 2000);
        g_helpers.push_back(child.hProcess);
    }
    Sleep(500);  // let the copies finish loading their modules
    return static_cast<int>(g_helpers.size());
}

void stop_helper_processes() {
    for (HANDLE helper : g_helpers) {
        TerminateProcess(helper, 0);
        WaitForSingleObject(helper, 5000);
        CloseHandle(helper);
    }
    g_helpers.clear();
}

int helper_process_main() {
    Sleep(60000);
    return 0;
}

}  // namespace korvex::bench

#else

namespace korvex::bench {
int start_helper_processes(int) { return 0; }
void stop_helper_processes() {}
int helper_process_main() { return 0; }
}  // namespace korvex::bench

#endif
