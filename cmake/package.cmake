# Import libraries and the CMake package that `cmake --install` lays out:
#   bin/korvex32.dll, lib/libkorvex32.dll.a (MinGW), lib/korvex32.lib (MSVC-style),
#   lib/korvex32.def, include/korvex32.h, lib/cmake/korvex32/ (find_package(korvex32)).
# The x86-64 build puts its DLL, import libraries and .def in bin/x64/ and
# lib/x64/ instead, so both builds can be installed into one prefix; the
# package then gives each consumer the build of its own pointer size.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(korvex_install_bindir ${CMAKE_INSTALL_BINDIR})
set(korvex_install_libdir ${CMAKE_INSTALL_LIBDIR})
if(KORVEX_ARCH STREQUAL x64)
  string(APPEND korvex_install_bindir /x64)
  string(APPEND korvex_install_libdir /x64)
endif()

if(WIN32)
  # MSVC links i686 stdcall functions by their decorated names (_MapFile@4);
  # the library exports them undecorated, which llvm-dlltool's -k records in
  # each import entry. x86-64 names are undecorated throughout.
  find_program(KORVEX_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
  set(korvex_dlltool_machine i386)
  if(KORVEX_ARCH STREQUAL x64)
    set(korvex_dlltool_machine i386:x86-64)
  endif()
  set(korvex_msvc_import_library ${CMAKE_BINARY_DIR}/korvex32.lib)
  add_custom_command(
    OUTPUT ${korvex_msvc_import_library}
    COMMAND ${KORVEX_LLVM_DLLTOOL} -m ${korvex_dlltool_machine} -k -D korvex32.dll
            -d ${KORVEX_DEF_FILE} -l ${korvex_msvc_import_library}
    DEPENDS ${KORVEX_DEF_FILE}
    COMMENT "MSVC-style import library korvex32.lib")
  add_custom_target(korvex32_msvc_import_library ALL DEPENDS ${korvex_msvc_import_library})

  # The linker's own import library names the functions as exported
  # (MapFile), so i686 callers, which refer to MapFile@4, would not link.
  # Replace it with one made from the definitions, decorated names kept for
  # linking.
  add_custom_command(TARGET korvex32 POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -k -D korvex32.dll -d ${KORVEX_DEF_FILE}
            -l $<TARGET_LINKER_FILE:korvex32>
    COMMENT "MinGW import library libkorvex32.dll.a")
  install(FILES ${korvex_msvc_import_library} ${KORVEX_DEF_FILE}
          DESTINATION ${korvex_install_libdir})
endif()

install(TARGETS korvex32 EXPORT korvex32Targets
        RUNTIME DESTINATION ${korvex_install_bindir}
        LIBRARY DESTINATION ${korvex_install_libdir}
        ARCHIVE DESTINATION ${korvex_install_libdir})
install(FILES ${CMAKE_SOURCE_DIR}/include/korvex32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # One config for both Windows builds: it includes the targets of the
  # consumer's architecture, and says so when the prefix lacks them.
  install(EXPORT korvex32Targets NAMESPACE korvex32:: FILE korvex32Targets-${KORVEX_ARCH}.cmake
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvex32)
  file(WRITE ${CMAKE_BINARY_DIR}/korvex32Config.cmake [=[
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_korvex32_arch x64)
  set(_korvex32_build win64)
else()
  set(_korvex32_arch x86)
  set(_korvex32_build win32)
endif()
if(NOT EXISTS "${CMAKE_CURRENT_LIST_DIR}/korvex32Targets-${_korvex32_arch}.cmake")
  set(korvex32_FOUND FALSE)
  set(korvex32_NOT_FOUND_MESSAGE
      "this prefix holds no ${_korvex32_arch} build of korvex32: install build/${_korvex32_build} into it")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/korvex32Targets-${_korvex32_arch}.cmake")
]=])
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvex32ConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion
                                   ARCH_INDEPENDENT)
else()
  install(EXPORT korvex32Targets NAMESPACE korvex32::
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvex32)
  file(WRITE ${CMAKE_BINARY_DIR}/korvex32Config.cmake
       "include(\"\${CMAKE_CURRENT_LIST_DIR}/korvex32Targets.cmake\")\n")
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvex32ConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
endif()
install(FILES ${CMAKE_BINARY_DIR}/korvex32Config.cmake ${CMAKE_BINARY_DIR}/korvex32ConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvex32)
