# The component library is built as four layers, each its own static
# library, each linking only the one below it:
#
#   fernwick_framework <- fernwick_link <- fernwick_db <- fernwick_conduit
#
# and `fernwick` (Fernwick::fernwick) is the whole library: what conduits,
# tools and tests link. See docs/layers.md.
#
# fernwick_add_layer(<target> [BELOW <lower layer target>])
#
# Builds every .cpp file of the calling folder into <target>; files ending in
# _win.cpp are built only for Windows and files ending in _posix.cpp only for
# POSIX systems. A new source file of a layer needs no CMake line at all.
#
# Two checks keep the layers one way:
# - fernwick_<layer>_alone: a program made of the whole layer and the layers
#   below it and nothing else, built with the library when Fernwick is the
#   top-level project. A reference from a layer to a symbol of a layer above
#   it leaves that symbol undefined there, and the build fails.
# - The test layer_includes (cmake/CheckLayerIncludes.cmake) fails when a
#   file of a layer includes a header of a layer above it.
set(FERNWICK_LAYER_CHECK_MAIN ${CMAKE_CURRENT_LIST_DIR}/LayerCheckMain.cpp)

function(fernwick_add_layer target)
  cmake_parse_arguments(L "" "BELOW" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include/fernwick>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  fernwick_set_warnings(${target})
  if(L_BELOW)
    target_link_libraries(${target} PUBLIC ${L_BELOW})
  endif()

  set_target_properties(${target} PROPERTIES FERNWICK_LAYER_BELOW "${L_BELOW}")

  # Every object of this layer and of the layers below, and nothing above.
  # A check of Fernwick's own: a project that adds Fernwick as a subproject
  # does not build it.
  if(NOT PROJECT_IS_TOP_LEVEL)
    return()
  endif()
  add_executable(${target}_alone ${FERNWICK_LAYER_CHECK_MAIN})
  target_link_libraries(${target}_alone PRIVATE ${target})
  set(layer ${target})
  while(layer)
    set_property(TARGET ${target}_alone PROPERTY LINK_LIBRARY_OVERRIDE_${layer} WHOLE_ARCHIVE)
    get_target_property(layer ${layer} FERNWICK_LAYER_BELOW)
  endwhile()
endfunction()
