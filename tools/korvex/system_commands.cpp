#include <cstdio>

#include "commands.h"
#include "output.h"
#include "text.h"

namespace korvex::host {

void report_error(const std::string& sentence) {
    std::fprintf(stderr, "korvex: %s\n", sentence.c_str());
}

int run_version(const Library& library) {
    std::printf("korvex %s\nlibrary %s%s%s\n", KORVEX_HOST_VERSION, library.path.c_str(),
                library.version.empty() ? "" : " version ", library.version.c_str());
    return exit_ok;
}

int run_kill(const Library& library, std::uint32_t process) {
    if (library.terminate_process(process) == 0) {
        report_error("process " + std::to_string(process) +
                     " could not be ended (there is no such process, or access was denied).");
        return exit_failure;
    }
    std::printf("process %u is being ended\n", process);
    return exit_ok;
}

int run_osversion(const Library& library, bool json) {
    KorvexOsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (library.get_version(&info) == 0) {
        report_error("the operating system did not give its version.");
        return exit_failure;
    }
    const std::string service_pack = field_text(info.szCSDVersion);
    if (json) {
        print_json(stdout, {{"major", info.dwMajorVersion},
                            {"minor", info.dwMinorVersion},
                            {"build", info.dwBuildNumber},
                            {"platform", info.dwPlatformId},
                            {"service_pack", to_utf8(service_pack)}});
    } else {
        std::printf("%u.%u build %u, platform %u%s%s\n", info.dwMajorVersion, info.dwMinorVersion,
                    info.dwBuildNumber, info.dwPlatformId, service_pack.empty() ? "" : ", ",
                    service_pack.c_str());
    }
    return exit_ok;
}

}  // namespace korvex::host
