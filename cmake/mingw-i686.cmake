# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 (posix thread model,
# which GoogleTest needs for std::mutex) and runs the results under Wine.
set(korvex_mingw_processor i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
