#include <cstdio>

#include "commands.h"
#include "diagnosis.h"
#include "output.h"
#include "private_folder.h"
#include "snapshot_reading.h"
#include "text.h"

namespace korvex::host {

void report_error(const std::string& sentence) {
    // Results printed before the failure appear before its message.
    flush_output();
    std::fprintf(stderr, "korvex: %s\n", sentence.c_str());
}

int run_version(const Library& library) {
    print("korvex %s\nlibrary %s%s%s\n", KORVEX_HOST_VERSION, library.path.c_str(),
          library.version.empty() ? "" : " version ", library.version.c_str());
    return exit_ok;
}

namespace {

// Ends one process and says so, naming it when its name is known.
bool end_process(const Library& library, std::uint32_t process, const std::string& name) {
    const std::string who =
        "process " + std::to_string(process) + (name.empty() ? "" : " (" + name + ")");
    if (library.terminate_process(process) == 0) {
        report_error(who + " could not be ended (there is no such process, or access was denied).");
        return false;
    }
    print("ended %s\n", who.c_str());
    return true;
}

bool is_process_id(const std::string& text) {
    return !text.empty() && text.size() <= 10 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

int run_kill(const Library& library, const KillOptions& options) {
    bool all_ended = true;
    SnapshotPages running;
    bool listed = false;
    for (const auto& target : options.targets) {
        if (is_process_id(target)) {
            all_ended &= end_process(library, static_cast<std::uint32_t>(std::stoull(target)), {});
            continue;
        }
        // Names are looked up in a snapshot of this moment, taken once.
        if (!listed) {
            const PrivateFolder scratch;
            std::string work_file, error;
            if (!scratch.created() || !take_and_read(library, scratch.path(), "kill", false, 50,
                                                     running, work_file, error)) {
                report_error("the running processes could not be listed (" +
                             (scratch.created() ? error : scratch.error()) + ").");
                return exit_failure;
            }
            listed = true;
        }
        SnapshotPages matching = running;
        apply_filter(matching, {.process = 0, .name = target, .module = {}});
        std::erase_if(matching.processes,
                      [](const ProcessRecord& p) { return p.th32ProcessID == own_process_id(); });
        if (matching.processes.empty()) {
            report_error("no running process is named " + target + ".");
            all_ended = false;
        }
        for (const auto& p : matching.processes)
            all_ended &= end_process(library, p.th32ProcessID, field_text(p.szExeFile));
    }
    return all_ended ? exit_ok : exit_failure;
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
        print_json({{"major", info.dwMajorVersion},
                    {"minor", info.dwMinorVersion},
                    {"build", info.dwBuildNumber},
                    {"platform", info.dwPlatformId},
                    {"service_pack", to_utf8(service_pack)}});
    } else {
        print("%u.%u build %u, platform %u%s%s\n", info.dwMajorVersion, info.dwMinorVersion,
              info.dwBuildNumber, info.dwPlatformId, service_pack.empty() ? "" : ", ",
              service_pack.c_str());
    }
    return exit_ok;
}

}  // namespace korvex::host
