# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix thread model,
# as for i686) and runs the results under 64-bit Wine.
set(korvex_mingw_processor x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
