// The capture of the running processes and their modules into the tables.
#pragma once

namespace korvex::snapshot {

// Fills the emptied ProcessTable and ModuleTable from the running system and
// sorts both.
void CaptureSnapShot() noexcept;

}  // namespace korvex::snapshot
