// TEST SEAMS. The three places where tests, fuzzers and benchmarks reach
// into the library; the library itself never calls the setters below.
//   - the process source the capture reads (a fake system),
//   - the capture TakeSnapShot runs (chosen records instead of a capture),
//   - the storage the snapshot side obtains (the n-th allocation fails).
#pragma once

#include "os/process_source.h"
#include "snapshot/capture.h"
#include "snapshot/tables.h"

namespace korvex::os {

// Installs `source` for every later capture; nullptr puts the platform's
// source back. The caller keeps `source` alive while it is installed.
inline void set_process_source(ProcessSource* source) noexcept {
    installed_process_source = source;
}

}  // namespace korvex::os

namespace korvex::snapshot {

// Runs instead of CaptureSnapShot inside TakeSnapShot, so tests can fill the
// tables with chosen records. Null restores the real capture.
inline void set_capture_for_tests(CaptureFunction capture) noexcept { installed_capture = capture; }

// The `countdown`-th allocation from now fails (1 = the next one), and every
// later one succeeds again. 0 switches the failure off. Answers what was left
// of the countdown this one replaces: 0 once its failure has come, so a
// countdown too long to run out counts the allocations made meanwhile.
inline long fail_storage_after(long countdown) noexcept {
    const long left = storage_failure_countdown;
    storage_failure_countdown = countdown;
    return left;
}

}  // namespace korvex::snapshot
