# fernwick_add_conduit(<target> SOURCES <files...> [LIBS <targets...>])
#
# Builds a conduit library: a shared library (a DLL on Windows) made of the
# given sources, which declare the data module with FERNWICK_CONDUIT_MODULE,
# plus the five exported entry points, linked with the component library.
# It exports exactly OpenConduit, GetConduitName, GetConduitVersion,
# GetConduitInfo and ConfigureConduit: undecorated on Windows (a .def file),
# through a version script elsewhere; nothing else leaks out. Windows names
# the library <target>.dll, POSIX lib<target>.so, so that "<target>.dll"
# stands for the library on both (as the library's own loader maps names).
#
# The entry points' sources are found relative to this file, so that the
# function also works in a project that added Fernwick with add_subdirectory
# or FetchContent (which does not see the variables of Fernwick's own folder)
# and from the installed package (share/fernwick/cmake beside
# share/fernwick/conduit/exports). It adds no warning options: the author's
# sources build with the author's flags.
# On Windows the DLL also carries the bitmaps of resources/ and the dialog's
# form as real Windows resources (the library itself reads embedded copies).
# Elsewhere the window module that shows the dialog (Fernwick::forms_fltk,
# where Fernwick was built with FLTK) is copied beside the conduit library,
# where the library looks for it first: ship the two files together.
if(WIN32)
  enable_language(RC)
endif()
function(fernwick_add_conduit target)
  cmake_parse_arguments(C "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT C_SOURCES)
    message(FATAL_ERROR "fernwick_add_conduit(${target}): SOURCES is required")
  endif()
  # src/conduit/exports in Fernwick's sources, conduit/exports installed.
  set(FERNWICK_CONDUIT_EXPORTS_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../src/conduit/exports)
  if(NOT EXISTS ${FERNWICK_CONDUIT_EXPORTS_DIR})
    set(FERNWICK_CONDUIT_EXPORTS_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../conduit/exports)
  endif()
  add_library(${target} SHARED ${C_SOURCES} ${FERNWICK_CONDUIT_EXPORTS_DIR}/ConduitExports.cpp)
  target_link_libraries(${target} PRIVATE Fernwick::fernwick ${C_LIBS})
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
    set(FERNWICK_RESOURCES_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../resources)
    cmake_path(ABSOLUTE_PATH FERNWICK_RESOURCES_DIR NORMALIZE)
    configure_file(${FERNWICK_RESOURCES_DIR}/Fernwick.rc.in ${CMAKE_BINARY_DIR}/Fernwick.rc @ONLY)
    target_sources(${target} PRIVATE ${FERNWICK_CONDUIT_EXPORTS_DIR}/conduit.def
      ${CMAKE_BINARY_DIR}/Fernwick.rc)
  else()
    target_link_options(${target} PRIVATE
      "LINKER:--version-script=${FERNWICK_CONDUIT_EXPORTS_DIR}/conduit.map"
      "LINKER:--no-undefined"
      # Once loaded, a conduit library stays mapped until the process ends;
      # its data module is destroyed and its units finalised at exit. The
      # library's thread-local objects (the loader's last error) would
      # otherwise keep glibc from running its destructors at dlclose and let
      # a later dlclose unmap it while its own finalisation still runs.
      "LINKER:-z,nodelete")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
      ${FERNWICK_CONDUIT_EXPORTS_DIR}/conduit.map)
    if(TARGET Fernwick::forms_fltk)
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Fernwick::forms_fltk>
                $<TARGET_FILE_DIR:${target}>
        VERBATIM)
    endif()
  endif()
endfunction()
