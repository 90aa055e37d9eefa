// Processes for the capture benchmark to find. On Windows under Wine the
// only other processes are Wine's own 64-bit services, whose modules a
// 32-bit program cannot list; sleeping copies of the benchmark, each with a
// handful of system DLLs loaded, give the capture 32-bit processes with real
// modules, most of them shared, as on a desktop. Linux has plenty already.
#pragma once

namespace korvex::bench {

// Starts `count` copies of this program with "--sleep" and waits until each
// has loaded its DLLs; answers how many are ready.
int start_helper_processes(int count);

// Ends every copy started.
void stop_helper_processes();

// The copies' main: loads the DLLs, reports that it is ready, and sleeps
// until it is ended (at most ten minutes).
int helper_process_main(const char* ready_name);

}  // namespace korvex::bench
