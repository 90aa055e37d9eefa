# Import libraries and the CMake package that `cmake --install` lays out:
#   bin/korvex32.dll, lib/libkorvex32.dll.a (MinGW), lib/korvex32.lib (MSVC-style),
#   lib/korvex32.def, include/korvex32.h, lib/cmake/korvex32/ (find_package(korvex32)).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  # MSVC links stdcall functions by their decorated names (_MapFile@4); the
  # library exports them undecorated, which llvm-dlltool's -k records in
  # each import entry.
  find_program(KORVEX_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)
  set(korvex_msvc_import_library ${CMAKE_BINARY_DIR}/korvex32.lib)
  add_custom_command(
    OUTPUT ${korvex_msvc_import_library}
    COMMAND ${KORVEX_LLVM_DLLTOOL} -m i386 -k -D korvex32.dll
            -d ${CMAKE_SOURCE_DIR}/src/frame/korvex32.def -l ${korvex_msvc_import_library}
    DEPENDS ${CMAKE_SOURCE_DIR}/src/frame/korvex32.def
    COMMENT "MSVC-style import library korvex32.lib")
  add_custom_target(korvex32_msvc_import_library ALL DEPENDS ${korvex_msvc_import_library})

  # The linker's own import library names the functions as exported
  # (MapFile), so callers, which refer to MapFile@4, would not link. Replace
  # it with one made from the definitions, decorated names kept for linking.
  add_custom_command(TARGET korvex32 POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -k -D korvex32.dll -d ${CMAKE_SOURCE_DIR}/src/frame/korvex32.def
            -l $<TARGET_LINKER_FILE:korvex32>
    COMMENT "MinGW import library libkorvex32.dll.a")
  install(FILES ${korvex_msvc_import_library} ${CMAKE_SOURCE_DIR}/src/frame/korvex32.def
          DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(TARGETS korvex32 EXPORT korvex32Targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/korvex32.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT korvex32Targets NAMESPACE korvex32::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvex32)

file(WRITE ${CMAKE_BINARY_DIR}/korvex32Config.cmake
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/korvex32Targets.cmake\")\n")
write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvex32ConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/korvex32Config.cmake ${CMAKE_BINARY_DIR}/korvex32ConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/korvex32)
