// The standard streams: buffered output whose every failure is noticed, and a
// progress line that only a person at a console sees.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef __MINGW_PRINTF_FORMAT
#define KORVEX_PRINTF(format_at, first_argument_at) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, format_at, first_argument_at)))
#else
#define KORVEX_PRINTF(format_at, first_argument_at) \
    __attribute__((format(printf, format_at, first_argument_at)))
#endif

namespace korvex::host {

// Writes LF line endings under Windows when stdout is not a console, and
// natively turns a closed pipe into a write error instead of a silent death
// by SIGPIPE.
void prepare_standard_streams();

// Every result korvex prints goes through print and print_text, which gather
// it in one buffer handed to stdout in large blocks. The C runtime's own
// buffering cannot be relied on: msvcrt leaves character devices unbuffered,
// and under Wine its fputc and printf hand each line to the system on its
// own even when stdout has a full buffer, one system call per line.
void print(const char* format, ...) KORVEX_PRINTF(1, 2);
void print_text(std::string_view text);
inline void print_char(char c) { print_text(std::string_view(&c, 1)); }
// Hands everything gathered so far to stdout and flushes it; false when the
// flush failed.
bool flush_output();

bool is_console(std::FILE* stream);

// True once a write to stdout failed; the output is then incomplete and the
// run is cut short.
bool output_failed();

// Flushes the output and answers `status`, or exit_failure with a message on
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
