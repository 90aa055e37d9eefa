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

constinit char pending[1 << 16];
constinit std::size_t pending_size = 0;
constinit bool write_failure_reported = false;
// The first failed write's cause, taken when it happened.
constinit int write_error = 0;
constinit bool reader_gone = false;

void write_through(const char* text, std::size_t size) {
    if (size == 0 || std::ferror(stdout)) return;
    errno = 0;
    if (std::fwrite(text, 1, size, stdout) == size) return;
    write_error = errno;
    reader_gone = is_broken_pipe(write_error);
}

}  // namespace

void prepare_output() {
    prepare_standard_streams();
    // The blocks print gathers go to the system whole, each in one write.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool flush_output() {
    write_through(pending, pending_size);
    pending_size = 0;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void print_text(std::string_view text) {
    if (text.size() > sizeof pending - pending_size) {
        write_through(pending, pending_size);
        pending_size = 0;
        if (text.size() >= sizeof pending) return write_through(text.data(), text.size());
    }
    std::memcpy(pending + pending_size, text.data(), text.size());
    pending_size += text.size();
}

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

void report_error(const std::string& sentence) {
    // Results printed before the failure appear before its message.
    flush_output();
    std::fprintf(stderr, "korvex: %s\n", terminal_text(sentence).c_str());
}

bool output_failed() { return std::ferror(stdout) != 0; }

int finish_output(int status) {
    if (flush_output() && !output_failed()) return status;
    if (reader_gone) return status;
    if (!write_failure_reported) {
        write_failure_reported = true;
        report_error(std::string("the output could not be written") +
                     (write_error != 0 ? " (" + system_error_text(write_error) + ")." : "."));
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
