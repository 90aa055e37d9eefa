// The subcommands of korvex. Each answers the program's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library.h"

namespace korvex::host {

enum ExitStatus : int { exit_ok = 0, exit_library_failure = 1, exit_usage = 2 };

struct InspectOptions {
    std::vector<std::string> files;
    bool json = false;
};

struct SnapshotOptions {
    std::string directory;  // empty: a korvex folder in the temporary directory
    std::string name = "korvex";
    std::uint32_t process = 0;  // 0: every process
    std::int32_t rows = 50;
    bool versions = true;
    bool json = false;
};

struct ShowOptions {
    std::string work_file;
    std::uint32_t process = 0;
    std::int32_t rows = 50;
    bool json = false;
};

int run_inspect(const Library& library, const InspectOptions& options);
int run_snapshot(const Library& library, const SnapshotOptions& options);
int run_show(const Library& library, const ShowOptions& options);
int run_kill(const Library& library, std::uint32_t process);
int run_osversion(const Library& library, bool json);

// Prints "korvex: " and the sentence to stderr.
void report_error(const std::string& sentence);

}  // namespace korvex::host
