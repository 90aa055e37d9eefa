// The standard streams: buffered output whose every failure is noticed, and a
// progress line that only a person at a console sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#ifdef __MINGW_PRINTF_FORMAT
#define KORVEX_PRINTF(format_at, first_argument_at) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, format_at, first_argument_at)))
#else
#define KORVEX_PRINTF(format_at, first_argument_at) \
    __attribute__((format(printf, format_at, first_argument_at)))
#endif

namespace korvex::host {

// Sets the streams up for print (below) before anything is written.
void prepare_output();

// Every result korvex prints goes through print and print_text, which gather
// it in one buffer handed to stdout in large blocks. The C runtime's own
// buffering cannot be relied on: msvcrt leaves character devices unbuffered,
// and under Wine its fputc and printf hand each line to the system on its
// own even when stdout has a full buffer, one system call per line.
void print(const char* format, ...) KORVEX_PRINTF(1, 2);
void print_text(std::string_view text);
// A line for stderr (what korvex did beside its results: "copied ..."), in
// order with the results and error lines around it.
void print_note(const std::string& line);
inline void print_char(char c) { print_text(std::string_view(&c, 1)); }

// One row of comma-separated values, RFC 4180: a field holding a comma, a
// quote or a line break is quoted, its quotes doubled. The bytes are kept.
void print_csv_row(const std::vector<std::string>& row);

// JSON, pretty, or compact on one line for streams of objects. Every text
// from the library is passed through to_utf8 before it is put in a
// document, so dump never meets invalid UTF-8.
void print_json(const nlohmann::json& document);
void print_json_line(const nlohmann::json& document);

// Hands everything gathered so far to stdout and flushes it; false when the
// flush failed.
bool flush_output();

// True once a write to stdout failed; the output is then incomplete and the
// run is cut short.
bool output_failed();

// Flushes the output and answers `status`, or exit_failure with a message on
// stderr when any output could not be written. A reader that went away
// (`korvex ... | head`) is no failure: nothing is said, and the status is the
// command's own.
int finish_output(int status);

// "[3/754] path" on stderr, rewritten in place, when stderr is a console and
// there is more than one item. The line is rewritten at most every
// `interval_ms`: a console that draws each character slowly (Wine's wraps
// every one in cursor escapes) would otherwise cost more than the work.
class Progress {
public:
    static constexpr std::uint64_t interval_ms = 250;

    // Where the line goes and the clock that paces it.
    struct Screen {
        std::FILE* stream;
        bool enabled;
        std::uint64_t (*clock)();
    };

    explicit Progress(std::size_t total);
    Progress(std::size_t total, Screen screen);
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void show(std::size_t done, const std::string& item);
    // Removes the line, so that what is printed next starts at a clean line.
    void clear();

private:
    std::size_t total_;
    Screen screen_;
    bool shown_ = false;
    bool drawn_once_ = false;
    std::uint64_t drawn_at_ = 0;
};

}  // namespace korvex::host
