// TEST SEAMS. The three places where tests, fuzzers and benchmarks reach
// into the library; the library itself never calls the setters below.
//   - the process source the capture reads (a fake system),
//   - the capture TakeSnapShot runs (chosen records instead of a capture),
//   - the storage the snapshot side obtains (the n-th allocation fails).
#pragma once

#include "os/process_source.h"

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
using CaptureFunction = void (*)();
void set_capture_for_tests(CaptureFunction capture) noexcept;

// The `countdown`-th allocation from now fails (1 = the next one), and every
// later one succeeds again. 0 switches the failure off.
void fail_storage_after(long countdown) noexcept;

// Number of allocations made so far, for tests that walk every failure point.
long storage_allocations() noexcept;

// Blocks obtained and not yet released: 0 whenever the tables are empty, the
// registry holds no entry and no capture runs. Leak tests compare it across
// many rounds of calls.
long storage_blocks_in_use() noexcept;

}  // namespace korvex::snapshot
