// The subcommands of korvex. Each answers the program's exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "library.h"
#include "snapshot_reading.h"

namespace korvex::host {

// 0: all well; 1: some input failed, or the output could not be written;
// 2: the command line was wrong.
enum ExitStatus : int { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

struct InspectOptions {
    std::vector<std::string> files;  // "-": names read from stdin, one a line
    std::string files_from;          // a file of names, one a line ("-": stdin)
    bool recursive = false;          // the files in folders, and in their folders
    bool imports = true;             // list the imports of a PE image
    bool exports = true;             // list its exports
    bool json = false;
    bool json_lines = false;  // one compact JSON object per file, printed as it is done
};

// How the processes and modules of a snapshot are listed.
struct ListingOptions {
    ProcessFilter filter;
    std::int32_t rows = 50;  // records per read call
    bool header = true;
    std::string csv;  // "processes" or "modules": that table alone, as CSV
    bool json = false;
};

struct SnapshotOptions {
    std::string output;     // the work file to write; empty: a new file in `directory`
    std::string directory;  // empty: the current folder
    std::string name = "snapshot";
    bool force = false;  // replace `output` if it exists
    bool versions = true;
    ListingOptions listing;
};

struct ShowOptions {
    std::string work_file;
    ListingOptions listing;
};

struct DiffOptions {
    std::string before, after;  // work files
    std::int32_t rows = 50;
    bool json = false;
};

struct KillOptions {
    std::vector<std::string> targets;  // process ids, or executable name patterns
};

int run_inspect(const Library& library, const InspectOptions& options);
int run_snapshot(const Library& library, const SnapshotOptions& options);
int run_show(const Library& library, const ShowOptions& options);
int run_diff(const Library& library, const DiffOptions& options);
int run_kill(const Library& library, const KillOptions& options);
int run_osversion(const Library& library, bool json);
int run_version(const Library& library);

// Prints "korvex: " and the sentence to stderr.
void report_error(const std::string& sentence);

}  // namespace korvex::host
