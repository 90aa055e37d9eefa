// The capture of the running processes and their modules into the tables.
#pragma once

#include <cstdint>

namespace korvex::snapshot {

// Fills the emptied ProcessTable and ModuleTable from the running system and
// sorts both. Without a process list the tables stay empty.
void CaptureSnapShot() noexcept;

// Appends one ModuleRecord for every module of the process. Without a module
// list the process contributes no modules.
void CaptureProcessModules(std::uint32_t processId) noexcept;

}  // namespace korvex::snapshot
