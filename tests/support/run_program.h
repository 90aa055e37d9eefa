// Runs a program to its end and keeps what it printed, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace korvex::test {

struct ProgramResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` (no shell: each argument is passed as is).
ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments);

// Id of the running test process, as the platform's process list shows it.
unsigned current_process_id();

// Starts a child that sleeps for a minute and answers its id; end_child waits
// for it to end (ending it first if `force`) and answers its exit code.
unsigned start_sleeping_child();
int end_child(unsigned id, bool force);

}  // namespace korvex::test
