// The standard streams: buffered output whose every failure is noticed, and a
// progress line that only a person at a console sees.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace korvex::host {

// Makes stdout fully buffered (the C runtime leaves character devices
// unbuffered, one system call per piece of text), writes LF line endings
// under Windows when stdout is not a console, and natively turns a closed
// pipe into a write error instead of a silent death by SIGPIPE.
void prepare_standard_streams();

bool is_console(std::FILE* stream);

// True once a write to stdout failed; the output is then incomplete and the
// run is cut short.
bool output_failed();

// Flushes stdout and answers `status`, or exit_failure with a message on
// stderr when any output could not be written.
int finish_output(int status);

// "[3/754] path" on stderr, rewritten in place, when stderr is a console and
// there is more than one item.
class Progress {
public:
    explicit Progress(std::size_t total);
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void show(std::size_t done, const std::string& item);
    // Removes the line, so that what is printed next starts at a clean line.
    void clear();

private:
    std::size_t total_;
    bool enabled_;
    bool shown_ = false;
};

}  // namespace korvex::host
