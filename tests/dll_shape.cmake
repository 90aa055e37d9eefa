# Checks the shipped DLL with objdump: PE32 i386 (ARCH x86) or PE32+ x86-64
# (ARCH x64), the export directory's name, base and slot count, every export
# of export_table.h at its ordinal (and korvex32.def agreeing with that
# table), nothing exported but those functions (no forwarders, no data), no
# TLS directory, nothing imported but KERNEL32, VERSION and msvcrt, and (from
# the link map, MAP) no static constructors.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

function(expect pattern what)
  if(NOT dump MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: '${pattern}' not found")
  endif()
endfunction()

if(ARCH STREQUAL x64)
  expect("file format pei-x86-64" "PE32+ x86-64 image")
  expect("Magic[ \t]+020b" "PE32+ optional header")
else()
  expect("file format pei-i386" "PE32 i386 image")
  expect("Magic[ \t]+010b" "PE32 optional header")
endif()
expect("Name[ \t]+[0-9a-f]+ korvex32\\.dll" "export directory name")
expect("Ordinal Base[ \t]+1\n" "ordinal base")
expect("Export Address Table -- Ordinal Base 1" "address table")

string(REGEX MATCH "Number in:\n[ \t]*Export Address Table[ \t]+([0-9a-f]+)" _ "${dump}")
if(NOT CMAKE_MATCH_1 STREQUAL "00000029")
  message(FATAL_ERROR "expected 41 (0x29) export slots, found '${CMAKE_MATCH_1}'")
endif()

# The exports as export_table.h lists them, and korvex32.def (which the linker
# reads) must list the same names at the same ordinals.
file(READ ${CMAKE_CURRENT_LIST_DIR}/../src/frame/export_table.h table_text)
string(REGEX MATCHALL "X\\([A-Za-z0-9]+, [0-9]+," table_lines "${table_text}")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../src/frame/korvex32.def def_lines REGEX "@[0-9]+$")
set(table_exports)
foreach(line IN LISTS table_lines)
  string(REGEX MATCH "X\\(([A-Za-z0-9]+), ([0-9]+)," _ "${line}")
  list(APPEND table_exports "${CMAKE_MATCH_1} @${CMAKE_MATCH_2}")
endforeach()
set(def_exports)
foreach(line IN LISTS def_lines)
  string(REGEX REPLACE "@[0-9]+ @" " @" line "${line}")
  list(APPEND def_exports "${line}")
endforeach()
if(NOT table_exports STREQUAL def_exports)
  message(FATAL_ERROR "korvex32.def lists ${def_exports}\nexport_table.h lists ${table_exports}")
endif()

set(named 0)
foreach(entry IN LISTS table_exports)
  string(REGEX MATCH "^([A-Za-z0-9]+) @([0-9]+)$" _ "${entry}")
  set(name ${CMAKE_MATCH_1})
  set(ordinal ${CMAKE_MATCH_2})
  math(EXPR index "${ordinal} - 1")
  # "[Ordinal/Name Pointer] Table" rows: "[ index] name" with the table index.
  expect("\\[[ ]*${index}\\] ${name}\n" "export ${name} at ordinal ${ordinal}")
  math(EXPR named "${named} + 1")
endforeach()
# Rows of the dump matching `pattern`, in `rows`, must number `expected`.
function(expect_rows pattern expected what rows)
  string(REGEX MATCHALL "${pattern}" found "${dump}")
  list(LENGTH found count)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "expected ${expected} ${what}, found ${count}")
  endif()
  set(${rows} "${found}" PARENT_SCOPE)
endfunction()
expect_rows("\n\t\\[[ ]*[0-9]+\\] [A-Za-z0-9_@]+" ${named} "named exports" name_rows)
if(dump MATCHES "@[0-9]+\n")
  message(FATAL_ERROR "an exported name still carries its stdcall decoration")
endif()

# Every slot that holds a function points into the code: a forwarder or an
# exported variable would point elsewhere (objdump marks forwarders).
if(dump MATCHES "Forwarder RVA")
  message(FATAL_ERROR "the export table has a forwarder")
endif()
expect_rows("\\+base\\[[ ]*[0-9]+\\] [0-9a-f]+ Export RVA" ${named} "filled export slots" slots)
execute_process(COMMAND ${OBJDUMP} -h ${DLL} OUTPUT_VARIABLE sections)
# ".text  size  vma ...": the code's place relative to the image base.
string(REGEX MATCH "\\.text[ \t]+([0-9a-f]+)[ \t]+([0-9a-f]+)" _ "${sections}")
set(text_size 0x${CMAKE_MATCH_1})
set(text_vma 0x${CMAKE_MATCH_2})
string(REGEX MATCH "ImageBase[ \t]+([0-9a-f]+)" _ "${dump}")
math(EXPR text_start "${text_vma} - 0x${CMAKE_MATCH_1}")
math(EXPR text_end "${text_start} + ${text_size}")
foreach(slot IN LISTS slots)
  string(REGEX MATCH "([0-9a-f]+) Export RVA" _ "${slot}")
  math(EXPR rva "0x${CMAKE_MATCH_1}")
  if(rva LESS text_start OR NOT rva LESS text_end)
    message(FATAL_ERROR "export slot outside the code (data or a forwarder): ${slot}")
  endif()
endforeach()

# No TLS directory: no callbacks run for the host's threads.
expect("Entry 9 0+ 00000000 Thread Storage Directory" "an empty TLS directory entry")

include(${CMAKE_CURRENT_LIST_DIR}/static_constructors.cmake)

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" import)
  if(NOT import MATCHES "dll name: (kernel32|version|msvcrt)\\.dll")
    message(FATAL_ERROR "unexpected import: ${import}")
  endif()
endforeach()
message(STATUS "${named} exports, imports: ${imports}")
