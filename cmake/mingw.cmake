# What the two MinGW-w64 toolchain files share: mingw-i686.cmake and
# mingw-x86_64.cmake set korvex_mingw_processor and include this file. The
# programs run under Wine's loader of their word size (cmake/wine-run,
# cmake/wine64-run).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${korvex_mingw_processor})

set(korvex_mingw_triplet ${korvex_mingw_processor}-w64-mingw32)
set(CMAKE_C_COMPILER ${korvex_mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${korvex_mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${korvex_mingw_triplet}-windres)
set(CMAKE_DLLTOOL ${korvex_mingw_triplet}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${korvex_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

if(korvex_mingw_processor STREQUAL x86_64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine64-run)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
endif()
