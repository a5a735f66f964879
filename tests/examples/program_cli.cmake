# The command-line contract every Fernwick program keeps, as a table: run by
# the program_cli_<program> tests as
#   cmake -DPROGRAM=<file> -DNAME=<program> -DVERSION=<x.y.z> -DWORK=<folder>
#         [-DEMULATOR=<launcher>] -P program_cli.cmake
#
# Each row: arguments | exit status | stream (out, err) | regular expression.
# @FILE@ is an existing file and @FOLDER@ an existing folder, given where the
# other kind is wanted.
cmake_policy(VERSION 3.25)
set(common
  "--help|0|out|[Uu]sage"
  "-h|0|out|[Uu]sage"
  "--version|0|out|^${NAME} ${VERSION}\r?\n$"
  "|2|err|[Uu]sage"
  "--no-such-option|2|err|--no-such-option")
set(fernwick-hotsync
  "--handheld,@FILE@,sync,x.dll|2|err|--handheld .*a-file is a file, not a folder"
  "--handheld,@FOLDER@,--desktop,@FILE@,sync,x.dll|2|err|--desktop .*a-file is a file, not a folder"
  "--handheld,@FOLDER@,sync,@FOLDER@|2|err|a-folder is a folder, not a conduit library")
set(fernwick-pdbdump
  "@FOLDER@|1|err|a-folder is a folder, not a database file"
  "--layout,@FILE@,--strict|2|err|--layout needs a database file")
set(fernwick-emudump
  "@FILE@,MemoDB|2|err|a-file is a file, not a folder")
set(fernwick-make-samples
  "@FILE@|2|err|a-file is a file, not a folder")
if(NOT EMULATOR)
  # On Windows link-check offers --current only.
  set(link-check "@FILE@|2|err|a-file is a file, not a folder")
endif()

file(MAKE_DIRECTORY ${WORK}/a-folder)
file(WRITE ${WORK}/a-file "not a database\n")
set(failures 0)
foreach(row IN LISTS common ${NAME})
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 args)
  list(GET fields 1 want_status)
  list(GET fields 2 stream)
  list(GET fields 3 pattern)
  string(REPLACE "," ";" args "${args}")
  string(REPLACE "@FILE@" "${WORK}/a-file" args "${args}")
  string(REPLACE "@FOLDER@" "${WORK}/a-folder" args "${args}")
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${args}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(problem "")
  if(NOT status STREQUAL want_status)
    set(problem "exit status ${status}, wanted ${want_status}")
  elseif(NOT "${${stream}}" MATCHES "${pattern}")
    set(problem "standard ${stream} does not match '${pattern}'")
  elseif(want_status STREQUAL "2" AND NOT out STREQUAL "")
    set(problem "a refused command line printed to standard output")
  endif()
  if(problem)
    message(SEND_ERROR "${NAME} ${args}: ${problem}\n--- out:\n${out}--- err:\n${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures EQUAL 0)
  message(STATUS "${NAME}: every row of the command-line table holds")
endif()
# Nothing was written into the folder the program ran in, such as a folder
# named after an option.
file(GLOB left RELATIVE ${WORK} ${WORK}/*)
list(REMOVE_ITEM left a-file a-folder)
if(left)
  message(SEND_ERROR "${NAME} left ${left} in the current folder")
endif()
