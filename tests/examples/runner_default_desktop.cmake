# fernwick-hotsync without --desktop: it uses $XDG_DATA_HOME/fernwick/desktop,
# says so, makes it readable by the user alone, and writes nothing into the
# current folder; nor with a relative XDG_DATA_HOME (ignored: ~/.local/share
# then) or an empty --desktop (refused).
#   cmake -DRUNNER=<file> -DCONDUIT=<memo conduit> -DSOURCE_DIR=<repository>
#         -DWORK=<folder> -P runner_default_desktop.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/cwd ${WORK}/data)
file(COPY ${SOURCE_DIR}/samples/handheld DESTINATION ${WORK})
set(ENV{XDG_DATA_HOME} ${WORK}/data)
execute_process(COMMAND ${RUNNER} --handheld ${WORK}/handheld sync ${CONDUIT}
  WORKING_DIRECTORY ${WORK}/cwd RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(desktop ${WORK}/data/fernwick/desktop)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "sync failed (${status}):\n${out}${err}")
endif()
string(FIND "${out}" "Desktop folder: ${desktop} (the default" said)
if(said LESS 0)
  message(FATAL_ERROR "the runner did not name its default desktop folder:\n${out}")
endif()
file(GLOB written ${desktop}/*)
file(GLOB in_cwd ${WORK}/cwd/*)
if(NOT written OR in_cwd)
  message(FATAL_ERROR "desktop folder holds '${written}', current folder '${in_cwd}'")
endif()
# The desktop files hold the user's private records: the folder the runner
# makes is the user's alone, whatever the umask.
execute_process(COMMAND stat -c %a ${desktop} ${WORK}/data/fernwick OUTPUT_VARIABLE modes)
if(NOT modes STREQUAL "700\n700\n")
  message(FATAL_ERROR "the default desktop folder and its parent have modes ${modes}, not 700")
endif()

set(ENV{XDG_DATA_HOME} data)
set(ENV{HOME} ${WORK}/home)
execute_process(COMMAND ${RUNNER} --handheld ${WORK}/handheld sync ${CONDUIT}
  WORKING_DIRECTORY ${WORK}/cwd RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(home_desktop ${WORK}/home/.local/share/fernwick/desktop)
file(GLOB written ${home_desktop}/*)
file(GLOB in_cwd ${WORK}/cwd/*)
if(NOT status EQUAL 0 OR NOT written OR in_cwd)
  message(FATAL_ERROR "relative XDG_DATA_HOME (${status}): ${home_desktop} holds '${written}', "
                      "current folder '${in_cwd}'\n${out}${err}")
endif()
execute_process(COMMAND ${RUNNER} --handheld ${WORK}/handheld --desktop "" sync ${CONDUIT}
  WORKING_DIRECTORY ${WORK}/cwd RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB in_cwd ${WORK}/cwd/*)
if(NOT status EQUAL 2 OR in_cwd)
  message(FATAL_ERROR "--desktop \"\" (${status}): current folder '${in_cwd}'\n${out}${err}")
endif()
message(STATUS "default desktop folder ${desktop} used")
