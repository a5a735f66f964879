# The component library is built as five layers, each its own static
# library, each linking only the one below it:
#
#   fernwick_framework <- fernwick_link <- fernwick_db <- fernwick_conduit
#     <- fernwick_sync
#
# and `fernwick` (Fernwick::fernwick) is the whole library: what conduits,
# tools and tests link. See docs/layers.md.
#
# fernwick_add_layer(<target> [BELOW <lower layer target>] [EXCLUDE <file>...])
#
# Builds every .cpp file of the calling folder (src/<layer>) into <target>,
# except the files named in EXCLUDE; files ending in _win.cpp are built only
# for Windows and files ending in _posix.cpp only for POSIX systems. A new
# source file of a layer needs no CMake line at all.
#
# The include path of a layer holds its own folder (its internal headers,
# included as "Header.h") and, through its PUBLIC include root, its public
# headers include/fernwick/<layer>/ (included as <fernwick/<layer>/Header.h>).
# Each layer has a root of its own, build/layer-include/<layer>/, holding
# only fernwick/<layer>, so that a target sees the public headers of the
# layers it links and of none above: an include against the flow does not
# compile (the test layer_wall). Installed, the roots are one, include/.
#
# Three checks keep the layers one way:
# - fernwick_<layer>_alone: a program made of the whole layer and the layers
#   below it and nothing else, built with the library when Fernwick is the
#   top-level project. A reference from a layer to a symbol of a layer above
#   it leaves that symbol undefined there, and the build fails.
# - The include roots above: the compiler refuses an include against the
#   flow (the test layer_wall tries one).
# - The test layer_includes (cmake/CheckLayerIncludes.cmake) fails when a
#   file of a layer names a header of a layer above it, also in a header
#   that no file of its own layer includes.
set(FERNWICK_LAYER_CHECK_MAIN ${CMAKE_CURRENT_LIST_DIR}/LayerCheckMain.cpp)

# fernwick_include_root(<name> <folder under include/fernwick>)
#
# Makes build/layer-include/<name>/fernwick/<folder> a symbolic link to
# include/fernwick/<folder> and sets FERNWICK_INCLUDE_ROOT to
# build/layer-include/<name>, the include directory that shows that folder
# alone. A single header may be given as <folder> too (framework/DynLib.h).
function(fernwick_include_root name folder)
  set(root ${PROJECT_BINARY_DIR}/layer-include/${name})
  cmake_path(GET folder PARENT_PATH parent)
  file(MAKE_DIRECTORY ${root}/fernwick/${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/include/fernwick/${folder} ${root}/fernwick/${folder}
    SYMBOLIC COPY_ON_ERROR)
  set(FERNWICK_INCLUDE_ROOT ${root} PARENT_SCOPE)
endfunction()

function(fernwick_add_layer target)
  cmake_parse_arguments(L "" "BELOW" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(file IN LISTS L_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
  endif()
  add_library(${target} STATIC ${sources})
  string(REGEX REPLACE "^fernwick_" "" layer ${target})
  fernwick_include_root(${layer} ${layer})
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${FERNWICK_INCLUDE_ROOT}> $<INSTALL_INTERFACE:include>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
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
