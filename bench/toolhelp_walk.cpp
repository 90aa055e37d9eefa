#include "toolhelp_walk.h"

#ifdef _WIN32

#include <windows.h>

#include <tlhelp32.h>

namespace korvex::bench {

// The module lists the capture asks for: a 64-bit walk also takes the
// 32-bit modules of 32-bit processes, as the 64-bit build's capture does.
constexpr DWORD module_list_kinds =
    sizeof(void*) == 8 ? TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32 : TH32CS_SNAPMODULE;

WalkCount bare_process_and_module_walk() {
    WalkCount count;
    const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) return count;
    PROCESSENTRY32 process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes, &process); more;
         more = Process32Next(processes, &process)) {
        ++count.processes;
        const HANDLE modules = CreateToolhelp32Snapshot(module_list_kinds, process.th32ProcessID);
        if (modules == INVALID_HANDLE_VALUE) continue;
        MODULEENTRY32 module{};
        module.dwSize = sizeof module;
        for (BOOL next = Module32First(modules, &module); next;
             next = Module32Next(modules, &module))
            ++count.modules;
        CloseHandle(modules);
    }
    CloseHandle(processes);
    return count;
}

}  // namespace korvex::bench

#else

#include "korvex32.h"
#include "os/process_source.h"

namespace korvex::bench {

WalkCount bare_process_and_module_walk() {
    WalkCount count;
    os::ProcessSource& system = os::process_source();
    const os::ListHandle processes = system.open_processes();
    if (processes == 0) return count;
    ProcessRecord process{};
    process.dwSize = sizeof process;
    os::ModuleEntry entry;
    for (bool more = system.first_process(processes, process); more;
         more = system.next_process(processes, process)) {
        ++count.processes;
        const os::ListHandle modules = system.open_modules(process.th32ProcessID);
        if (modules == 0) continue;
        for (bool next = system.first_module(modules, entry); next;
             next = system.next_module(modules, entry))
            ++count.modules;
        system.close_list(modules);
    }
    system.close_list(processes);
    return count;
}

}  // namespace korvex::bench

#endif
