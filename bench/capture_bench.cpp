// Cost of a snapshot against the bare walk of the same process and module
// lists without any file facts. Prints figures; asserts nothing.
//
//   capture_bench [rounds] [helpers]    (defaults 15 and, on Windows, 30)
//
// On Windows the benchmark first starts `helpers` sleeping copies of itself,
// each with ten system DLLs loaded (see helper_processes.h), and ends them
// afterwards.
//
// Figures per round, each over every module of every process:
//   walk      the bare walk (toolhelp_walk.h): Tool Help called directly;
//   source    the same walk through the library's process source;
//   facts     that walk plus the file facts of every module, looked up anew
//             each time (what a capture without its cache would pay);
//   capture   CaptureSnapShot: walk, file facts once per file, appends, sorts;
//   take      TakeSnapShot: a registered entry, the capture and the work file.
// Rounds are interleaved, so that a change in machine load touches every
// figure alike. The last lines ("result NAME VALUE") are for bench/run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "helper_processes.h"
#include "korvex32.h"
#include "library_probes.h"
#include "os/process_source.h"
#include "snapshot/capture.h"
#include "snapshot/tables.h"
#include "toolhelp_walk.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Round {
    double ms = 0;
    long modules = 0;
};

template <typename Body>
Round timed(Body body) {
    const auto start = Clock::now();
    const long modules = body();
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), modules};
}

// The library's walk through its process source; `facts` adds every
// module's file facts, read anew each time.
long library_walk(bool facts) {
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
            ++modules;
            if (!facts) continue;
            ModuleRecord record{};
            record.dwProcessID = process.th32ProcessID;
            std::memcpy(record.szPath, entry.path, sizeof entry.path);
            for (char* c = record.szPath; *c != '\0'; ++c)
                if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
            korvex::snapshot::ReadModuleFileFacts(record);
        }
        system.close_list(list);
    }
    system.close_list(processes);
    return modules;
}

struct Figure {
    const char* key;
    const char* label;
    std::vector<Round> rounds;

    double median_ms() const {
        std::vector<double> ms;
        for (const Round& r : rounds) ms.push_back(r.ms);
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    long modules() const { return rounds[rounds.size() / 2].modules; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--sleep") == 0)
        return korvex::bench::helper_process_main(argv[2]);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
#ifdef _WIN32
    const int wanted_helpers = argc > 2 ? std::atoi(argv[2]) : 30;
#else
    const int wanted_helpers = argc > 2 ? std::atoi(argv[2]) : 0;
#endif
    const int helpers = korvex::bench::start_helper_processes(wanted_helpers);

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("korvex-capture-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    InitSnapShots(folder.string().c_str());

    Figure walk{"walk", "bare walk (no file facts)", {}};
    Figure source{"source", "walk through the process source", {}};
    Figure facts{"facts", "walk + facts of every module", {}};
    Figure capture{"capture", "CaptureSnapShot (facts once/file)", {}};
    Figure take{"take", "TakeSnapShot (+ entry, work file)", {}};
    long processes = 0;
    for (int i = 0; i < rounds; ++i) {
        walk.rounds.push_back(timed([&] {
            const korvex::bench::WalkCount count = korvex::bench::bare_process_and_module_walk();
            processes = count.processes;
            return count.modules;
        }));
        source.rounds.push_back(timed([] { return library_walk(false); }));
        facts.rounds.push_back(timed([] { return library_walk(true); }));
        korvex::snapshot::ClearSnapShotTables();
        capture.rounds.push_back(timed([] {
            korvex::snapshot::CaptureSnapShot();
            return static_cast<long>(korvex::snapshot::module_table().count);
        }));
        take.rounds.push_back(timed([] {
            if (TakeSnapShot("bench") != KORVEX_OK) {
                std::fprintf(stderr, "capture_bench: TakeSnapShot failed\n");
                std::exit(1);
            }
            return static_cast<long>(korvex::snapshot::module_table().count);
        }));
    }
    InitSnapShots("");
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    korvex::bench::stop_helper_processes();

    std::printf("capture_bench: %d rounds, %d helper processes, %ld modules in %ld processes\n",
                rounds, helpers, capture.modules(), processes);
    std::printf("  %-36s %10s %10s %10s\n", "", "ms/round", "us/module", "x walk");
    const double floor = walk.median_ms();
    for (const Figure* f : {&walk, &source, &facts, &capture, &take}) {
        const double per_module =
            f->modules() > 0 ? f->median_ms() * 1e3 / static_cast<double>(f->modules()) : 0;
        std::printf("  %-36s %10.2f %10.2f %10.2f\n", f->label, f->median_ms(), per_module,
                    f->median_ms() / floor);
    }
    for (const Figure* f : {&walk, &source, &facts, &capture, &take})
        std::printf("result capture.%s %.3f\n", f->key, f->median_ms());
    std::printf("result capture.modules %ld\nresult capture.processes %ld\n", capture.modules(),
                processes);
    return 0;
}
