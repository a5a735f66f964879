# Fails when a file of a library layer names a header of a layer above it or
# of the stand-ins.
#
#   cmake -DROOT=<source dir> -P CheckLayerIncludes.cmake
#
# The layers, lowest first: framework, link, db, conduit, sync; a layer's files are
# its sources and internal headers (src/<layer>/, src/conduit/exports
# belongs to conduit) and its public headers (include/fernwick/<layer>/). A
# file may include <fernwick/abi/...> and the headers of its own layer and of
# the layers below. The compiler refuses any other include already (each
# layer's include path shows only those, see cmake/FernwickLayers.cmake);
# this check also covers a public header that no file of its own layer
# includes, and an include kept out of the build by #if.
set(layers framework link db conduit sync)
set(failures "")
foreach(layer IN LISTS layers)
  list(FIND layers ${layer} rank)
  file(GLOB_RECURSE files "${ROOT}/src/${layer}/*.h" "${ROOT}/src/${layer}/*.cpp"
    "${ROOT}/include/fernwick/${layer}/*.h")
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+[<\"][^\">]+[\">]")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+[<\"]([^\">]+)[\">].*" "\\1" header "${line}")
      set(folder "")
      if(header MATCHES "^fernwick/([^/]+)/")
        set(folder ${CMAKE_MATCH_1})
      elseif(header MATCHES "^(standins|hotsync)/")
        set(folder standins)
      endif()
      list(FIND layers "${folder}" folder_rank)
      if(folder_rank GREATER rank OR folder STREQUAL "standins")
        file(RELATIVE_PATH shown ${ROOT} ${file})
        list(APPEND failures "${shown} (${layer}) includes ${header} (${folder})")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes against the layers (framework <- link <- db <- conduit <- sync):\n  ${text}")
endif()
message(STATUS "Layer includes: none against the flow")
