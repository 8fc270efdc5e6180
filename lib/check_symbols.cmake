# Compares the symbols that LIBRARY exports with the list in EXPECTED.
#   cmake -DNM=nm -DLIBRARY=libskarvik-tx.so -DEXPECTED=list [-DUPDATE=ON] -P check_symbols.cmake
# One demangled name per line, with its version. Weak functions (the
# out-of-line copies of inline functions, which the optimisation level
# decides) are left out; everything else defined is kept. With UPDATE the
# list is written instead of compared.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(actual)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ ([A-Za-z]) (.*)$")
    if(NOT CMAKE_MATCH_1 STREQUAL "W" AND NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND actual "${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()
list(SORT actual)
list(JOIN actual "\n" actual_text)
if(UPDATE)
  file(WRITE ${EXPECTED} "${actual_text}\n")
  message(STATUS "wrote ${EXPECTED}")
  return()
endif()
if(NOT EXISTS ${EXPECTED})
  message(FATAL_ERROR "no list of exported symbols for this processor: ${EXPECTED}")
endif()
file(STRINGS ${EXPECTED} expected)
set(added ${actual})
set(removed ${expected})
list(REMOVE_ITEM added ${expected})
list(REMOVE_ITEM removed ${actual})
list(LENGTH actual actual_count)
list(LENGTH expected expected_count)
if(added OR removed OR NOT actual_count EQUAL expected_count)
  list(JOIN added "\n  + " added_text)
  list(JOIN removed "\n  - " removed_text)
  message(FATAL_ERROR "exported symbols differ from ${EXPECTED}:\n  + ${added_text}\n  - ${removed_text}\n"
    "A change of the ABI: update the list (lib/check_symbols.cmake -DUPDATE=ON) "
    "and, if something was removed or changed, the SONAME's major version.")
endif()
message(STATUS "${actual_count} exported symbols as listed")
