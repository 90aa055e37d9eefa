# Sources of the portable core. Each subsystem's folder is taken whole; the
# operating-system side is chosen by platform.
file(GLOB KORVEX_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/image/*.cpp
  ${CMAKE_SOURCE_DIR}/src/snapshot/*.cpp
  ${CMAKE_SOURCE_DIR}/src/system/*.cpp
  ${CMAKE_SOURCE_DIR}/src/os/*.cpp
  ${CMAKE_SOURCE_DIR}/src/os/${KORVEX_OS}/*.cpp)
