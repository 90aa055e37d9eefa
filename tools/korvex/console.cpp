#include "console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "commands.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

namespace korvex::host {

namespace {

constinit char pending[1 << 16];
constinit std::size_t pending_size = 0;
constinit bool write_failure_reported = false;

void write_through(const char* text, std::size_t size) {
    if (size != 0) std::fwrite(text, 1, size, stdout);
}

}  // namespace

bool is_console(std::FILE* stream) {
#ifdef _WIN32
    // _isatty is also true for NUL and other character devices.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void prepare_standard_streams() {
#ifdef _WIN32
    if (!is_console(stdout)) _setmode(_fileno(stdout), _O_BINARY);
#else
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // The blocks print gathers go to the system whole, each in one write.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool flush_output() {
    write_through(pending, pending_size);
    pending_size = 0;
    return std::fflush(stdout) == 0;
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

bool output_failed() { return std::ferror(stdout) != 0; }

int finish_output(int status) {
    errno = 0;
    if (flush_output() && !output_failed()) return status;
    if (!write_failure_reported) {
        write_failure_reported = true;
        const int cause = errno;
        report_error(std::string("the output could not be written") +
                     (cause != 0 ? std::string(" (") + std::strerror(cause) + ")." : "."));
    }
    return exit_failure;
}

Progress::Progress(std::size_t total) : total_(total), enabled_(total > 1 && is_console(stderr)) {}

void Progress::show(std::size_t done, const std::string& item) {
    if (!enabled_) return;
    // What is already done reaches the screen before the line that follows it.
    flush_output();
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total_, item.c_str());
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace korvex::host
