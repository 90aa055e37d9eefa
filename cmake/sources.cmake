# Sources of the portable core. Each subsystem's folder is taken whole; the
# operating-system side is chosen by platform.
file(GLOB KORVEX_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/image/*.cpp
  ${CMAKE_SOURCE_DIR}/src/snapshot/*.cpp
  ${CMAKE_SOURCE_DIR}/src/system/*.cpp
  ${CMAKE_SOURCE_DIR}/src/os/*.cpp
  ${CMAKE_SOURCE_DIR}/src/os/${KORVEX_OS}/*.cpp)

# Readers the command-line host uses beside the exports: the machine, the
# whole export table, the delay imports and the API-set schema. Nothing in
# the DLL calls them, so they live in their own folder, outside the core it
# links.
file(GLOB KORVEX_IMAGE_READER_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/image_readers/*.cpp)
