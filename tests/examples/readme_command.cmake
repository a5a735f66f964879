# Runs the runner example of README.md (the indented lines after the
# "readme-runner-example" mark) as a user would, from a copy of the
# repository's top folder holding samples/ and the build's bin folder, and
# the example of fernwick-hotsync --help from the bin folder (its scratch
# folder made in WORK), and checks that both worked and that every file of
# samples/ stayed as it was.
#   cmake -DSOURCE_DIR=<repository> -DBIN_DIR=<build bin> -DWORK=<folder> -P readme_command.cmake
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "<!-- readme-runner-example" at)
if(at LESS 0)
  message(FATAL_ERROR "README.md has no readme-runner-example mark")
endif()
string(SUBSTRING "${readme}" ${at} -1 readme)
string(REGEX MATCH "\n(    [^\n]*\n)+" block "${readme}")
string(REGEX REPLACE "\n    " "\n" commands "${block}")

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/build/linux)
file(COPY ${SOURCE_DIR}/samples DESTINATION ${WORK})
file(CREATE_LINK ${BIN_DIR} ${WORK}/build/linux/bin SYMBOLIC)
file(WRITE ${WORK}/readme-example.sh "set -e\n${commands}")
execute_process(COMMAND sh ${WORK}/readme-example.sh WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "Memo Pad [(][^)]*[)]: ok")
  message(FATAL_ERROR "README's commands failed (${status}):\n${commands}\n${out}${err}")
endif()
if(NOT EXISTS ${WORK}/build/try/desktop)
  message(FATAL_ERROR "README's sync wrote no desktop folder where it says")
endif()
execute_process(COMMAND ${BIN_DIR}/fernwick-hotsync --help OUTPUT_VARIABLE help)
string(REGEX MATCH "\nExample [^\n]*\n[^\n]*\n(  [^\n]*\n)+" help_block "${help}")
string(REGEX REPLACE "^\nExample [^\n]*\n[^\n]*\n" "" help_commands "${help_block}")
# A fixed name in a folder shared by all users may be anyone's: the example
# makes a fresh one (mktemp -d), here in WORK.
if(help_commands MATCHES "/tmp/")
  message(FATAL_ERROR "--help's example names a fixed folder in /tmp:\n${help_commands}")
endif()
file(MAKE_DIRECTORY ${WORK}/help-try)
file(WRITE ${WORK}/help-example.sh "set -e\n${help_commands}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${WORK}/help-try sh ${WORK}/help-example.sh
  WORKING_DIRECTORY ${BIN_DIR}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "Minimal Example [(][^)]*[)]: ok")
  message(FATAL_ERROR "--help's example failed (${status}):\n${help_commands}\n${out}${err}")
endif()

file(GLOB_RECURSE samples RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/samples/*)
set(changed "")
foreach(sample IN LISTS samples)
  file(SHA256 ${SOURCE_DIR}/${sample} before)
  file(SHA256 ${WORK}/${sample} after)
  if(NOT before STREQUAL after)
    list(APPEND changed ${sample})
  endif()
endforeach()
file(GLOB_RECURSE all RELATIVE ${WORK} ${WORK}/samples/*)
list(LENGTH all count_after)
list(LENGTH samples count_before)
if(changed OR NOT count_after EQUAL count_before)
  message(FATAL_ERROR "README's commands changed repository files: ${changed}")
endif()
message(STATUS "README's runner example ran and left samples/ unchanged")
