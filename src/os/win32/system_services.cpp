#include "os/system_services.h"

#include <windows.h>

namespace korvex::os {

std::int32_t terminate_process(std::uint32_t process_id) noexcept {
    constexpr DWORD all_process_access = 0x1F0FFF;
    HANDLE process = OpenProcess(all_process_access, TRUE, process_id);
    if (process == nullptr) return 0;
    const BOOL accepted = TerminateProcess(process, 0);
    CloseHandle(process);
    return accepted;
}

std::int32_t get_version_record(void* info) noexcept {
    return GetVersionExA(static_cast<OSVERSIONINFOA*>(info));
}

}  // namespace korvex::os
