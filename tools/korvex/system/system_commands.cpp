// korvex kill and korvex osversion: the library's process termination and
// OS version.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <memory>

#include "core/command.h"
#include "core/console.h"
#include "core/host_os.h"
#include "core/library.h"
#include "core/text.h"

namespace korvex::host {

namespace {

// Ends one process and says so, naming it when its name is known.
bool end_process(const Library& library, std::uint32_t process, const std::string& name) {
    const std::string who = "process " + std::to_string(process) +
                            (name.empty() ? "" : " (" + terminal_text(name) + ")");
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

int run_kill(const Library& library, const std::vector<std::string>& targets) {
    bool all_ended = true;
    SnapshotPages running;
    bool listed = false;
    for (const auto& target : targets) {
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
        bool found = false;
        for (const auto& p : running.processes) {
            if (p.th32ProcessID == own_process_id() ||
                !matches_pattern(field_text(p.szExeFile), target))
                continue;
            found = true;
            all_ended &= end_process(library, p.th32ProcessID, field_text(p.szExeFile));
        }
        if (!found) {
            report_error("no running process is named " + target + ".");
            all_ended = false;
        }
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
              terminal_text(service_pack).c_str());
    }
    return exit_ok;
}

}  // namespace

void add_system_commands(CLI::App& app, Commands& commands) {
    auto targets = std::make_shared<std::vector<std::string>>();
    auto* kill = app.add_subcommand("kill", "End processes by id or by executable name");
    kill->footer(
        "Processes end at once, without being asked (TerminateProcess on Windows, SIGKILL "
        "natively). korvex itself is never among the processes a name matches.");
    kill->add_option("TARGET", *targets, "Process id, or executable name (* and ? allowed)")
        ->required()
        ->type_name("PID|NAME");
    commands.push_back(
        {kill, [targets](const Library& library) { return run_kill(library, *targets); }});

    auto json = std::make_shared<bool>(false);
    auto* osversion = app.add_subcommand("osversion", "Print the operating system's version");
    osversion->add_flag("--json", *json, "Print JSON");
    commands.push_back(
        {osversion, [json](const Library& library) { return run_osversion(library, *json); }});
}

}  // namespace korvex::host
