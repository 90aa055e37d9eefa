# One work-file format for both Windows builds: a snapshot saved by the
# 64-bit korvex (THIS_KORVEX, run with THIS_EMULATOR) and one saved by the
# 32-bit korvex (OTHER_KORVEX, OTHER_EMULATOR) are each selected and read
# page by page (7 records per call) by both builds' library, and both read
# out the same records. Run from the win64 tree; without the win32 build
# there is nothing to compare with, which the message says.
if(NOT EXISTS ${OTHER_KORVEX})
  message(FATAL_ERROR "needs the win32 build (cmake --build --preset win32): ${OTHER_KORVEX}")
endif()
set(folder ${BUILD_DIR}/cross-read)
file(REMOVE_RECURSE ${folder})
file(MAKE_DIRECTORY ${folder})

function(korvex emulator program)
  execute_process(COMMAND ${emulator} ${program} ${ARGN} WORKING_DIRECTORY ${folder}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${program} ${ARGN}\n${out}\n${err}")
  endif()
  set(korvex_output "${out}" PARENT_SCOPE)
endfunction()

korvex(${THIS_EMULATOR} ${THIS_KORVEX} snapshot --no-versions -o by64.wrk)
korvex(${OTHER_EMULATOR} ${OTHER_KORVEX} snapshot --no-versions -o by32.wrk)
foreach(file by64.wrk by32.wrk)
  korvex(${THIS_EMULATOR} ${THIS_KORVEX} show --json --rows 7 ${file})
  set(read_by64 "${korvex_output}")
  korvex(${OTHER_EMULATOR} ${OTHER_KORVEX} show --json --rows 7 ${file})
  if(NOT read_by64 STREQUAL korvex_output)
    message(FATAL_ERROR "${file} reads differently:\n64-bit:\n${read_by64}\n32-bit:\n${korvex_output}")
  endif()
  string(JSON processes LENGTH "${read_by64}" processes)
  string(JSON modules LENGTH "${read_by64}" modules)
  if(processes EQUAL 0 OR modules EQUAL 0)
    message(FATAL_ERROR "${file} holds ${processes} processes and ${modules} modules")
  endif()
  message(STATUS "${file}: ${processes} processes, ${modules} modules, read alike by both builds")
endforeach()
