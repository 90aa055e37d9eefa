#include "os/system_services.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/utsname.h>

#include "korvex32.h"

namespace korvex::os {

std::int32_t terminate_process(std::uint32_t process_id) noexcept {
    // Ids 0 and above INT_MAX would address process groups or everything.
    if (process_id == 0 || process_id > 0x7FFFFFFFu) return 0;
    return ::kill(static_cast<pid_t>(process_id), SIGKILL) == 0 ? 1 : 0;
}

// Linux has no version record: fill one from the kernel's release numbers,
// with the Windows rule that the caller's size field must be 148.
std::int32_t get_version_record(void* info) noexcept {
    auto* record = static_cast<KorvexOsVersionInfo*>(info);
    if (record->dwOSVersionInfoSize != sizeof(KorvexOsVersionInfo)) return 0;
    struct utsname names {};
    if (::uname(&names) != 0) return 0;
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
    record->dwMajorVersion = major;
    record->dwMinorVersion = minor;
    record->dwBuildNumber = build;
    record->dwPlatformId = 0;
    std::snprintf(record->szCSDVersion, sizeof record->szCSDVersion, "%s %s", names.sysname,
                  names.release);
    return 1;
}

}  // namespace korvex::os
