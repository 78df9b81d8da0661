# Compares the dynamic symbols libnebloader.so defines with the list hosts and plug-ins
# rely on (nebloader.exports, demangled, sorted). An internal function that escapes or an
# interface function that goes missing fails the test.
# Usage: cmake -DLIBRARY=<path> -DEXPECTED=<file> -P CheckExports.cmake
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(found)
foreach(line ${lines})
  # "<address> <type> <name>"
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " f "${found}")
  string(REPLACE ";" "\n  " e "${expected}")
  message(FATAL_ERROR "exported symbols differ\nfound:\n  ${f}\nexpected:\n  ${e}")
endif()
