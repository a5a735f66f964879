# link-check prints what README says it prints: per table how many functions
# were bound, naming only those that were not. Run as
#   cmake -DLINK_CHECK=<program> -DBIN=<folder of the stand-ins>
#         -DWORK=<folder> -DREADME=<README.md> -P link_check_output.cmake
cmake_policy(VERSION 3.25)

# A function line: four spaces, the name, its state.
set(function_line "\n    [A-Za-z0-9_]+ +[a-z ]+\r?\n")

execute_process(COMMAND ${LINK_CHECK} ${BIN} RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "54 of 54 Sync Manager functions bound"
   OR NOT out MATCHES "8 of 8 log functions bound" OR out MATCHES "${function_line}")
  message(SEND_ERROR "link-check ${BIN}: status ${status}, wanted 0, the two counts and no "
                     "function named\n${out}")
endif()

file(MAKE_DIRECTORY ${WORK}/no-installation)
execute_process(COMMAND ${LINK_CHECK} ${WORK}/no-installation
  RESULT_VARIABLE status OUTPUT_VARIABLE out)
if(NOT status EQUAL 1 OR NOT out MATCHES "\n    SyncOpenDB +not bound\r?\n"
   OR NOT out MATCHES "\n    LogAddEntry +not bound\r?\n"
   OR NOT out MATCHES "0 of 54 Sync Manager functions bound")
  message(SEND_ERROR "link-check on an empty folder: status ${status}, wanted 1 and the "
                     "functions named as not bound\n${out}")
endif()

file(READ ${README} readme)
string(REGEX REPLACE "[ \n]+" " " readme "${readme}")
if(NOT readme MATCHES "how many of the 54 Sync Manager and 8 HotSync log functions were bound, naming only those that were not")
  message(SEND_ERROR "README no longer says what link-check prints; change this test with it")
endif()
