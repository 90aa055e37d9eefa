// Tool Help fails a module snapshot with ERROR_BAD_LENGTH when the process's
// module list changes while it is being copied (a DLL loading or unloading
// at that moment); the documented remedy is to ask again. A process whose
// list keeps changing, or whose loader table is damaged for good, must not
// hold up the capture, so the attempts are bounded: after the last one the
// process is treated as having no module list, like any other refusal.
#pragma once

#include <windows.h>

namespace korvex::os {

inline constexpr int module_snapshot_attempts = 16;

// Calls `attempt` (which answers a snapshot handle or INVALID_HANDLE_VALUE
// with the last error set) until it succeeds, fails for another reason, or
// has been made module_snapshot_attempts times.
template <typename Attempt>
HANDLE retry_while_module_list_changes(Attempt&& attempt) {
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    for (int made = 0; made < module_snapshot_attempts; ++made) {
        snapshot = attempt();
        if (snapshot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    return snapshot;
}

}  // namespace korvex::os
