// Cost of one capture per module, against the bare walk of the same process
// and module lists without any file facts. Prints figures; asserts nothing.
//
//   capture_bench [rounds] [helpers]    (defaults 20 and, on Windows, 4)
//
// On Windows the benchmark first starts `helpers` sleeping copies of itself
// (see helper_processes.h) and ends them afterwards.
//
// Three figures per round, each over every module of every process:
//   walk     open, step through and close the process and module lists;
//   uncached walk, plus ReadModuleFileFacts for every module;
//   capture  CaptureSnapShot: walk, file facts looked up once per file,
//            appends and both sorts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "helper_processes.h"
#include "korvex32.h"
#include "os/process_walk.h"
#include "snapshot/capture.h"
#include "snapshot/module_file_facts.h"
#include "snapshot/tables.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Round {
    double seconds = 0;
    long modules = 0;
};

// Walks like the capture, handing every module to `visit`.
template <typename Visit>
long walk(Visit visit) {
    korvex::os::ProcessSource& system = korvex::os::process_source();
    const korvex::os::ListHandle processes = system.open_processes();
    if (processes == 0) return 0;
    long modules = 0;
    ProcessRecord process{};
    process.dwSize = sizeof process;
    korvex::os::ModuleEntry entry;
    for (bool more = system.first_process(processes, process); more;
         more = system.next_process(processes, process)) {
        const korvex::os::ListHandle list = system.open_modules(process.th32ProcessID);
        if (list == 0) continue;
        for (bool next = system.first_module(list, entry); next;
             next = system.next_module(list, entry)) {
            visit(process.th32ProcessID, entry);
            ++modules;
        }
        system.close_list(list);
    }
    system.close_list(processes);
    return modules;
}

template <typename Body>
Round timed(Body body) {
    const auto start = Clock::now();
    const long modules = body();
    return {std::chrono::duration<double>(Clock::now() - start).count(), modules};
}

Round bare_walk() {
    return timed([] {
        volatile std::uint32_t sink = 0;
        return walk([&](std::uint32_t, const korvex::os::ModuleEntry& entry) {
            sink = sink + entry.process_usage;
        });
    });
}

Round uncached_facts() {
    return timed([] {
        return walk([](std::uint32_t process_id, const korvex::os::ModuleEntry& entry) {
            ModuleRecord record{};
            record.dwProcessID = process_id;
            std::memcpy(record.szPath, entry.path, sizeof entry.path);
            for (char* c = record.szPath; *c != '\0'; ++c)
                if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
            korvex::snapshot::ReadModuleFileFacts(record);
        });
    });
}

Round full_capture() {
    korvex::snapshot::ClearSnapShotTables();
    const Round round = timed([] {
        korvex::snapshot::CaptureSnapShot();
        return static_cast<long>(korvex::snapshot::module_table().count);
    });
    korvex::snapshot::ClearSnapShotTables();
    return round;
}

struct Figures {
    double median_us_per_module;
    double best_us_per_module;
    double median_ms;
    long modules;
};

Figures summarise(std::vector<Round>& rounds) {
    std::vector<double> per_module;
    std::vector<double> totals;
    for (const Round& r : rounds) {
        per_module.push_back(r.modules > 0 ? r.seconds * 1e6 / static_cast<double>(r.modules) : 0);
        totals.push_back(r.seconds * 1e3);
    }
    std::sort(per_module.begin(), per_module.end());
    std::sort(totals.begin(), totals.end());
    return {per_module[per_module.size() / 2], per_module.front(), totals[totals.size() / 2],
            rounds[rounds.size() / 2].modules};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--sleep") == 0) return korvex::bench::helper_process_main();
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
#ifdef _WIN32
    const int helpers = korvex::bench::start_helper_processes(argc > 2 ? std::atoi(argv[2]) : 4);
#else
    const int helpers = korvex::bench::start_helper_processes(argc > 2 ? std::atoi(argv[2]) : 0);
#endif
    std::vector<Round> walks, uncached, captures;
    // Interleaved, so that a change in system load touches all three alike.
    for (int i = 0; i < rounds; ++i) {
        walks.push_back(bare_walk());
        uncached.push_back(uncached_facts());
        captures.push_back(full_capture());
    }
    const Figures w = summarise(walks), u = summarise(uncached), c = summarise(captures);
    std::printf("capture_bench: %d rounds, %d helper processes, %ld modules in %d processes\n",
                rounds, helpers, c.modules,
                [] {
                    korvex::snapshot::CaptureSnapShot();
                    const int count = korvex::snapshot::process_table().count;
                    korvex::snapshot::ClearSnapShotTables();
                    return count;
                }());
    std::printf("%-34s %12s %12s %12s\n", "", "us/module", "best", "ms/round");
    std::printf("%-34s %12.2f %12.2f %12.2f\n", "bare walk (no file facts)", w.median_us_per_module,
                w.best_us_per_module, w.median_ms);
    std::printf("%-34s %12.2f %12.2f %12.2f\n", "walk + facts of every module", u.median_us_per_module,
                u.best_us_per_module, u.median_ms);
    std::printf("%-34s %12.2f %12.2f %12.2f\n", "CaptureSnapShot (facts once/file)",
                c.median_us_per_module, c.best_us_per_module, c.median_ms);
    if (w.median_us_per_module > 0)
        std::printf("capture / bare walk: %.2fx   uncached facts / bare walk: %.2fx\n",
                    c.median_us_per_module / w.median_us_per_module,
                    u.median_us_per_module / w.median_us_per_module);
    korvex::bench::stop_helper_processes();
    return 0;
}
