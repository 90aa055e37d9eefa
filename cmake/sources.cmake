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
# the DLL calls them, so they are kept out of the core it links.
set(KORVEX_IMAGE_READER_SOURCES
  ${CMAKE_SOURCE_DIR}/src/image/api_set_schema.cpp
  ${CMAKE_SOURCE_DIR}/src/image/delay_imports.cpp
  ${CMAKE_SOURCE_DIR}/src/image/export_table.cpp
  ${CMAKE_SOURCE_DIR}/src/image/section_map.cpp)
list(REMOVE_ITEM KORVEX_CORE_SOURCES ${KORVEX_IMAGE_READER_SOURCES})
