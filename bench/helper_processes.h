// Processes for the capture benchmark to find. On Windows under Wine the
// only other processes are Wine's own 64-bit services, whose modules a
// 32-bit program cannot list; a few sleeping copies of the benchmark give the
// capture 32-bit processes with real modules. Linux has plenty already.
#pragma once

namespace korvex::bench {

// Starts `count` copies of this program with "--sleep"; answers how many ran.
int start_helper_processes(int count);

// Ends every copy started.
void stop_helper_processes();

// The copies' main: sleeps until it is ended (at most a minute).
int helper_process_main();

}  // namespace korvex::bench
