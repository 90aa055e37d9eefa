// Runs a program to its end and keeps what it printed, for end-to-end tests.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace korvex::test {

struct ProgramResult {
    int exit_code = -1;
    std::string out;
    std::string err;
    long peak_memory_kb = 0;  // natively, with RunOptions::measure_memory: the child's
                              // largest resident set
};

// Where the program's standard streams lead. By default stdout and stderr are
// captured into files and stdin is empty.
struct RunOptions {
    std::string input;                // what the program reads on stdin
    std::string output_path;          // stdout goes to this file (not captured)
    bool output_pipe_closed = false;  // stdout is a pipe nobody reads
    bool on_terminal = false;         // natively: stdout and stderr share a pseudo-terminal,
                                      // captured together in `out`
    std::string working_directory;    // where the program starts; empty: here
    bool measure_memory = false;      // natively: fill peak_memory_kb (the program is started
                                      // by a fresh copy of the test program, see below)
};

// Runs `program` with `arguments` (no shell: each argument is passed as is;
// on Windows UTF-8 arguments reach the program as the UTF-16 they spell).
ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const RunOptions& options = {});

// Sets an environment variable of this process, which the programs it starts
// inherit, and puts back the earlier value on destruction.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::string old_value_;
    bool had_value_ = false;
};

// A child's largest resident set as the system counts it includes what the
// process that started it held: a child started straight from a test program
// that has grown would seem as big. So the child is started by a fresh copy
// of the test program (small), whose main() hands "--peak-memory-of FILE
// PROGRAM ARGUMENTS..." to measure_peak_memory: it runs PROGRAM, writes its
// peak in KiB to FILE and exits with its status. Natively only.
constexpr const char* peak_memory_flag = "--peak-memory-of";
int measure_peak_memory(char** file_program_and_arguments);

// The path Linux programs (started from the tests under Wine too, as Wine
// starts any program) take for `path`: under Wine its Linux spelling,
// elsewhere `path` itself.
std::string linux_path(const std::string& path);

// Under Wine a Linux program can still be at work when its start has
// returned: what it does is waited for, up to ten seconds. Answers whether
// `done` came true.
template <typename Done>
bool wait_until(Done done) {
    for (int tries = 0; tries < 200 && !done(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

// Path of the running test program.
std::string current_program();

// Id of the running test process, as the platform's process list shows it.
unsigned current_process_id();

// Starts a child that sleeps for a minute and answers its id; end_child waits
// for it to end (ending it first if `force`) and answers its exit code. The
// child is this program, or `program` (a copy of it under another name)
// started with --sleep-child.
unsigned start_sleeping_child(const std::string& program = {});
int end_child(unsigned id, bool force);

}  // namespace korvex::test
