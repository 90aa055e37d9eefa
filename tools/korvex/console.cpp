#include "console.h"

#include <cerrno>
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

constinit char stdout_buffer[1 << 16];
constinit bool write_failure_reported = false;

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
    std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
}

bool output_failed() { return std::ferror(stdout) != 0; }

int finish_output(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !output_failed()) return status;
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
    std::fflush(stdout);
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
