# Fails when the linker's map of a DLL (MAP) shows code registered to run at
# load or exit: entries of .ctors/.dtors (GCC's constructor lists, which
# MinGW's linker script places inside .text), .init_array/.fini_array, or the
# C runtime's initialiser tables (.CRT$XC*, .CRT$XI*). korvex32.dll is linked
# without the start-up code that would run them, so a static constructor
# would silently never run. Input sections of size 0 are no entries.
# Used by dll_shape.cmake and on its own.
if(NOT EXISTS "${MAP}")
  message(FATAL_ERROR "no link map at '${MAP}'")
endif()
file(READ "${MAP}" map_text)
# " .ctors.65535   0x6e941034   0x4 file.obj"; a long section name puts the
# addresses on the next line.
string(REGEX MATCHALL
       "\n (\\.ctors[.0-9]*|\\.ctor|\\.dtors[.0-9]*|\\.dtor|\\.init_array[.0-9]*|\\.fini_array[.0-9]*|\\.CRT\\$X[CIPT][A-Z]*)[ \t\n]+0x[0-9a-f]+[ \t]+0x[0-9a-f]+[ \t]+[^\n]+"
       entries "${map_text}")
set(found)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "0x[0-9a-f]+[ \t]+0x([0-9a-f]+)[ \t]+([^\n]+)$" _ "${entry}")
  set(size ${CMAKE_MATCH_1})
  set(object "${CMAKE_MATCH_2}")
  if(NOT size MATCHES "^0+$")
    list(APPEND found "${object}")
  endif()
endforeach()
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "static constructor in ${found}: a DLL linked without start-up code never runs it")
endif()
