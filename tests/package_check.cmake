# Installs the library into a scratch prefix, builds tests/package against it
# with find_package (MinGW import library) and with korvex32.lib, and runs both
# programs under Wine next to the installed DLL. ARCH_DIR is "" for the i686
# build and "/x64" for the x86-64 one, whose files go below bin/x64 and lib/x64.
#
# The package serves the consumer's own architecture: a consumer of the other
# one (OTHER_TOOLCHAIN) is told that the prefix lacks its build. When the other
# build exists (OTHER_BUILD_DIR, as scripts/test leaves it), it is installed
# into the same prefix too, and then each consumer links its own build.
set(prefix ${BUILD_DIR}/package-check/prefix)
set(consumer ${BUILD_DIR}/package-check/consumer)
set(other_consumer ${BUILD_DIR}/package-check/other-consumer)
file(REMOVE_RECURSE ${BUILD_DIR}/package-check)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(configure_consumer folder toolchain)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package -B ${folder} -G Ninja
                          -DCMAKE_TOOLCHAIN_FILE=${toolchain}
                          -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_ROOT_PATH=${prefix}
                          -DKORVEX32_PREFIX=${prefix}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(configure_result ${rc} PARENT_SCOPE)
  set(configure_output "${out}${err}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin${ARCH_DIR}/korvex32.dll lib${ARCH_DIR}/libkorvex32.dll.a lib${ARCH_DIR}/korvex32.lib
             lib${ARCH_DIR}/korvex32.def include/korvex32.h lib/cmake/korvex32/korvex32Config.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

configure_consumer(${other_consumer} ${OTHER_TOOLCHAIN})
if(configure_result EQUAL 0 OR NOT configure_output MATCHES "this prefix holds no x(86|64) build")
  message(FATAL_ERROR "a consumer of the other architecture was not refused:\n${configure_output}")
endif()

if(EXISTS ${OTHER_BUILD_DIR}/korvex32.dll)
  run(${CMAKE_COMMAND} --install ${OTHER_BUILD_DIR} --prefix ${prefix})
  file(REMOVE_RECURSE ${other_consumer})
  configure_consumer(${other_consumer} ${OTHER_TOOLCHAIN})
  if(NOT configure_result EQUAL 0)
    message(FATAL_ERROR "the other build, installed beside this one, was not found:\n${configure_output}")
  endif()
  run(${CMAKE_COMMAND} --build ${other_consumer})
  message(STATUS "the other architecture's consumer links its own build from the same prefix")
endif()

configure_consumer(${consumer} ${TOOLCHAIN})
if(NOT configure_result EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed:\n${configure_output}")
endif()
run(${CMAKE_COMMAND} --build ${consumer})
foreach(program consumer consumer_msvc_lib)
  file(COPY ${consumer}/${program}.exe DESTINATION ${prefix}/bin${ARCH_DIR})
  run(${EMULATOR} ${prefix}/bin${ARCH_DIR}/${program}.exe)
  message(STATUS "${program}: ${last_output}")
endforeach()
