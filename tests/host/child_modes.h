// What this test program does when a test starts it as a child process.
#pragma once

namespace korvex::host_test {

// argv[0] names the mode:
//   "try-write PATH": exit 0 when PATH opens for writing, 1 when it does not;
//   "sleep MS":       sleep, then exit 7 (a test that ends the child sees 0);
//   "load-dlls":      load and free a few system DLLs, then exit 0 at once;
//   "churn MS":       for MS milliseconds start "load-dlls" children as fast
//                     as it can, three at a time, and exit with the number
//                     started (at most 255).
int run_child_mode(int argc, char** argv);

}  // namespace korvex::host_test
