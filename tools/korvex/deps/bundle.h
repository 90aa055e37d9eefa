// korvex deps --copy-to: the programs and the DLLs they need outside the
// system folder, copied into one folder that runs.
#pragma once

#include <string>
#include <vector>

#include "deps/dependency_graph.h"

namespace korvex::host {

// Copies the programs and every module they resolved outside the system folder,
// delay-loaded ones included: what a machine with only the system DLLs lacks.
// Each name is given one file first: a file needed twice is copied once,
// and two different files of one name (or of names that differ in case) are
// both refused, so that --force never replaces what this run copied.
// A Wine build found in the system folder for a DLL Windows does not ship
// is never copied, and leaves the bundle incomplete. Says on stderr what it
// copied and why anything was not; false when the bundle is incomplete.
// With `force`, a differing file already in `copy_to` is replaced (by a
// rename, never written through).
bool copy_bundle(const std::vector<DependencyGraph>& graphs, const std::string& copy_to,
                 bool force);

}  // namespace korvex::host
