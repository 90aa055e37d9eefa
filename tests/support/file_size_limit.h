// Natively: every write to a file fails while one of these lives (the
// process's file-size limit is 0, and SIGXFSZ is ignored so that the write
// reports EFBIG instead of ending the process). A full disk, without one.
#pragma once

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>

namespace korvex::test {

class NoFileMayGrow {
public:
    NoFileMayGrow() : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &was_);
        rlimit none = was_;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoFileMayGrow() {
        ::setrlimit(RLIMIT_FSIZE, &was_);
        std::signal(SIGXFSZ, handler_);
    }
    NoFileMayGrow(const NoFileMayGrow&) = delete;
    NoFileMayGrow& operator=(const NoFileMayGrow&) = delete;

private:
    rlimit was_{};
    void (*handler_)(int);
};

}  // namespace korvex::test
#endif
