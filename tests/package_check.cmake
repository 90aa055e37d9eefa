# Installs the library into a scratch prefix, builds tests/package against it
# with find_package (MinGW import library) and with korvex32.lib, and runs both
# programs under Wine next to the installed DLL.
set(prefix ${BUILD_DIR}/package-check/prefix)
set(consumer ${BUILD_DIR}/package-check/consumer)
file(REMOVE_RECURSE ${BUILD_DIR}/package-check)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin/korvex32.dll lib/libkorvex32.dll.a lib/korvex32.lib lib/korvex32.def
             include/korvex32.h lib/cmake/korvex32/korvex32Config.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package -B ${consumer} -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_ROOT_PATH=${prefix}
    -DKORVEX32_PREFIX=${prefix})
run(${CMAKE_COMMAND} --build ${consumer})
foreach(program consumer consumer_msvc_lib)
  file(COPY ${consumer}/${program}.exe DESTINATION ${prefix}/bin)
  run(${EMULATOR} ${prefix}/bin/${program}.exe)
  message(STATUS "${program}: ${last_output}")
endforeach()
