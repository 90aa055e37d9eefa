# Checks the shipped DLL with objdump: PE32 i386, the export directory's name,
# base and slot count, every export of export_table.h at its ordinal (and
# korvex32.def agreeing with that table), no TLS directory, and
# nothing imported but KERNEL32, VERSION and msvcrt.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

function(expect pattern what)
  if(NOT dump MATCHES "${pattern}")
    message(FATAL_ERROR "${what}: '${pattern}' not found")
  endif()
endfunction()

expect("file format pei-i386" "PE32 i386 image")
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
string(REGEX MATCHALL "\n\t\\[[ ]*[0-9]+\\] [A-Za-z0-9_@]+" name_rows "${dump}")
list(LENGTH name_rows name_count)
if(NOT name_count EQUAL named)
  message(FATAL_ERROR "expected ${named} named exports, found ${name_count}")
endif()
if(dump MATCHES "@[0-9]+\n")
  message(FATAL_ERROR "an exported name still carries its stdcall decoration")
endif()

# No TLS directory: no callbacks run for the host's threads.
expect("Entry 9 00000000 00000000 Thread Storage Directory" "an empty TLS directory entry")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" import)
  if(NOT import MATCHES "dll name: (kernel32|version|msvcrt)\\.dll")
    message(FATAL_ERROR "unexpected import: ${import}")
  endif()
endforeach()
message(STATUS "${named} exports, imports: ${imports}")
