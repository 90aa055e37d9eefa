// Leak detection is part of every native test run: it is on by default on
// Linux, and this keeps it on even where ASAN_OPTIONS is set without it (a
// setting given in ASAN_OPTIONS still wins, so it can be turned off by hand).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
extern "C" const char* __asan_default_options() { return "detect_leaks=1"; }
#endif
#endif
