// Natively: sets the file-size limit and answers the one it replaced. A write
// past it fails as on a full disk (EFBIG; SIGXFSZ is ignored, lest it end the
// process).
#pragma once
#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
namespace korvex::test {

inline rlim_t limit_file_size(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t was = limit.rlim_cur;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return was;
}

}  // namespace korvex::test
#endif
