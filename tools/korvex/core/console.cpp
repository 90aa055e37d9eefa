#include "core/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/command.h"
#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

namespace {

// What korvex prints waits here and goes to the system in blocks, results
// and error lines alike, in the order printed: each run of one stream's text
// is one write. On a Wine console every write is costly, and a run over many
// unreadable files would otherwise write one error line at a time.
constinit char pending[1 << 16];
constinit std::size_t pending_size = 0;
struct Run {
    std::size_t end;  // where this run of one stream's text ends in pending
    bool error;       // stderr's text; stdout's otherwise
};
constinit Run runs[64] = {};
constinit std::size_t run_count = 0;
// An error line after a quiet spell of this long is written at once, so that
// one said before a long step is seen when it is said; the lines that follow
// it sooner join the next block.
constexpr std::uint64_t error_wait_ms = 250;
constinit std::uint64_t written_at_ms = 0;
constinit bool write_failure_reported = false;
// The first failed write's cause, taken when it happened: the C library's
// errno, which under Windows is no system error code (ENOSPC, 28, would read
// as ERROR_OUT_OF_PAPER).
constinit int write_error = 0;
constinit bool reader_gone = false;

// A write that fails for another cause than a reader gone is tried once more
// with what it left: under Wine, a write that the pipe took only part of
// before its reader went away fails with a stale cause ("Bad command"), and
// the next write names the broken pipe. A full disk fails the second time too.
void write_through(const char* text, std::size_t size) {
    bool retried = false;
    for (std::size_t at = 0; at < size && !std::ferror(stdout);) {
        errno = 0;
        const std::size_t written = std::fwrite(text + at, 1, size - at, stdout);
        if (written == size - at) return;
        write_error = errno;
        reader_gone = is_broken_pipe(write_error);
        if (reader_gone || retried) return;
        retried = true;
        std::clearerr(stdout);
        at += written;
    }
}

// Once the reader of stdout has gone korvex says nothing more: the error lines
// that wait behind the results it could not deliver are dropped.
void write_error_text(const char* text, std::size_t size) {
    if (size == 0 || reader_gone) return;
    std::fwrite(text, 1, size, stderr);
    std::fflush(stderr);
}

void write_pending() {
    std::size_t start = 0;
    for (std::size_t i = 0; i < run_count; ++i) {
        const Run& run = runs[i];
        (run.error ? write_error_text : write_through)(pending + start, run.end - start);
        start = run.end;
    }
    write_through(pending + start, pending_size - start);
    pending_size = 0;
    run_count = 0;
}

// Makes the end of the buffer the place for text of `error`'s stream. The
// text after the last run is stdout's, so only an error line needs runs: one
// that closes stdout's text before it, and its own. False when there is no
// room for them until what waits is written.
bool start_run(bool error) {
    if (!error) return true;
    const std::size_t closed = run_count == 0 ? 0 : runs[run_count - 1].end;
    if (run_count > 0 && runs[run_count - 1].error && closed == pending_size) return true;
    const std::size_t needed = closed < pending_size ? 2 : 1;
    if (run_count + needed > std::size(runs)) return false;
    if (closed < pending_size) runs[run_count++] = {pending_size, false};
    runs[run_count++] = {pending_size, true};
    return true;
}

// Adds text to the stream's run, writing what waits first when it is full.
void add(const char* text, std::size_t size, bool error) {
    if (!start_run(error) || size > sizeof pending - pending_size) {
        write_pending();
        start_run(error);
        if (size >= sizeof pending) {
            (error ? write_error_text : write_through)(text, size);
            return;
        }
    }
    std::memcpy(pending + pending_size, text, size);
    pending_size += size;
    if (error) runs[run_count - 1].end = pending_size;
}

}  // namespace

void prepare_output() {
    prepare_standard_streams();
    // The blocks print gathers go to the system whole, each in one write.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool flush_output() {
    write_pending();
    written_at_ms = monotonic_milliseconds();
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void print_text(std::string_view text) { add(text.data(), text.size(), false); }

void print(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const std::size_t room = sizeof pending - pending_size;
    const int size = std::vsnprintf(pending + pending_size, room, format, arguments);
    va_end(arguments);
    if (size >= 0 && static_cast<std::size_t>(size) < room) {
        pending_size += static_cast<std::size_t>(size);
    } else if (size > 0) {
        // Did not fit: formatted again where it fits whole (the attempt's cut
        // text beyond pending_size is simply overwritten later).
        std::string text(static_cast<std::size_t>(size) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
        print_text(text);
    }
    va_end(again);
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
void print_csv_row(const std::vector<std::string>& row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string& field = row[c];
        if (field.find_first_of(",\"\r\n") == std::string::npos) {
            print_text(field);
        } else {
            print_char('"');
            for (const char ch : field) {
                if (ch == '"') print_char('"');
                print_char(ch);
            }
            print_char('"');
        }
        print_char(c + 1 == row.size() ? '\n' : ',');
    }
}

void print_note(const std::string& line) {
    const std::string shown = terminal_line(line) + "\n";
    add(shown.data(), shown.size(), true);
    if (monotonic_milliseconds() - written_at_ms >= error_wait_ms) flush_output();
}

// Results printed before the failure appear before its message: both wait
// in the one buffer, in order.
void report_error(const std::string& sentence) { print_note("korvex: " + sentence); }

int report_usage_error(std::string_view what, std::string_view command) {
    report_error(usage_sentence(what, command));
    return exit_usage;
}

bool output_failed() { return std::ferror(stdout) != 0; }

int finish_output(int status) {
    if (flush_output() && !output_failed()) return status;
    if (reader_gone) return status;
    if (!write_failure_reported) {
        write_failure_reported = true;
        report_error(
            std::string("the output could not be written") +
            (write_error != 0 ? " (" + std::string(std::strerror(write_error)) + ")." : "."));
        flush_output();
    }
    return exit_failure;
}

Progress::Progress(std::size_t total)
    : Progress(total, {stderr, is_console(stderr), monotonic_milliseconds}) {}

Progress::Progress(std::size_t total, Screen screen) : total_(total), screen_(screen) {
    screen_.enabled = screen_.enabled && total > 1;
}

void Progress::show(std::size_t done, const std::string& item) {
    if (!screen_.enabled) return;
    const std::uint64_t now = screen_.clock();
    if (drawn_once_ && now - drawn_at_ < interval_ms) return;
    drawn_once_ = true;
    drawn_at_ = now;
    // What is already done reaches the screen before the line that follows it.
    flush_output();
    std::fprintf(screen_.stream, "\r\033[K[%zu/%zu] %s", done, total_, terminal_text(item).c_str());
    std::fflush(screen_.stream);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", screen_.stream);
    std::fflush(screen_.stream);
    shown_ = false;
}

void print_json(const nlohmann::json& document) { print("%s\n", document.dump(2).c_str()); }

void print_json_line(const nlohmann::json& document) { print("%s\n", document.dump().c_str()); }

}  // namespace korvex::host
