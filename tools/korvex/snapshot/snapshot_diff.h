// What changed between two snapshots: processes started and ended, and for
// the processes in both, modules loaded, unloaded and changed.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/library.h"

namespace korvex::host {

struct ProcessChange {
    const ProcessRecord* process = nullptr;
    std::vector<const ModuleRecord*> loaded, unloaded;
    std::vector<std::pair<const ModuleRecord*, const ModuleRecord*>> updated;  // before, after
};

struct Difference {
    std::vector<ProcessChange> started, ended, changed;
};

// What identifies a module within a process: its path, or its short name
// when it has none.
std::string module_key(const ModuleRecord& module);

// Compares two snapshots. A process is the same in both when its id and its
// executable are (an id the system reused for another program is an end and
// a start); a module is the same file when its path is (its short name when
// it has none), and it changed when its size or version did.
// Processes whose executable is named `left_out` (any case; empty: none) are
// not compared: korvex's own, which each snapshot catches taking it.
// The records pointed to are those of `before` and `after`.
Difference compare_snapshots(const SnapshotPages& before, const SnapshotPages& after,
                             const std::string& left_out = {});

}  // namespace korvex::host
