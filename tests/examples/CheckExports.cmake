# Checks that a conduit library exports exactly the five conduit entry points,
# under their plain names.
#   cmake -DLIBRARY=<file> -DTOOL=<nm or objdump> -DFORMAT=<elf|pe> -P CheckExports.cmake
set(expected ConfigureConduit GetConduitInfo GetConduitName GetConduitVersion OpenConduit)

if(FORMAT STREQUAL "pe")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -p ${LIBRARY} failed (${rc})")
  endif()
  # The export name table: lines "\t[ n] +base[ m] 0xNNNN Name" after
  # "[Ordinal/Name Pointer] Table".
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${LIBRARY} has no export name table")
  endif()
  string(SUBSTRING "${dump}" ${start} -1 table)
  # The table ends at the first blank line; anything after belongs to other
  # sections.
  string(REGEX REPLACE "\n\n.*" "" table "${table}")
  string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]*" lines "${table}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE ".* ([^ ]+)$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} -D --defined-only ${LIBRARY} failed (${rc})")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
    list(APPEND names ${name})
  endforeach()
endif()

list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${names}], expected exactly [${expected}]")
endif()
message(STATUS "${LIBRARY} exports exactly: ${names}")
