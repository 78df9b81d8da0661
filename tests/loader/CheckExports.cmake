# Compares the dynamic symbols libnebloader.so (or the exports of nebloader.dll) defines with the list hosts and plug-ins
# rely on (nebloader.exports, demangled, sorted). An internal function that escapes or an
# interface function that goes missing fails the test.
# Usage: cmake -DLIBRARY=<path> -DEXPECTED=<file> -P CheckExports.cmake
set(found)
if(OBJDUMP)
  # A DLL (cmake -DOBJDUMP=<objdump> -DCXXFILT=<c++filt>): the names of its export table,
  # demangled. 64-bit Windows is LLP64: size_t is "unsigned long long" there, spelled as
  # on Linux to compare with the same list.
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table\n" "" table "${table}")
  string(REGEX REPLACE "\n\n.*" "" table "${table}")
  string(REPLACE "\n" ";" lines "${table}")
  foreach(line ${lines})
    # "\t[   n] <name>"
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      execute_process(COMMAND ${CXXFILT} "${CMAKE_MATCH_1}" OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE)
      string(REPLACE "unsigned long long" "unsigned long" name "${name}")
      list(APPEND found "${name}")
    endif()
  endforeach()
else()
  execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
    OUTPUT_VARIABLE table RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" lines "${table}")
  foreach(line ${lines})
    # "<address> <type> <name>"
    if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
      list(APPEND found "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()
list(SORT found)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " f "${found}")
  string(REPLACE ";" "\n  " e "${expected}")
  message(FATAL_ERROR "exported symbols differ\nfound:\n  ${f}\nexpected:\n  ${e}")
endif()
