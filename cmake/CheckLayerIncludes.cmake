# Fails when a file of a library layer includes a header of a layer above it.
#
#   cmake -DROOT=<source dir> -P CheckLayerIncludes.cmake
#
# The layers, lowest first: framework, link, db, conduit (conduit/exports
# belongs to conduit). A file may include headers of its own layer and of the
# layers below; any other quoted include naming one of these folders is an
# edge against the flow.
set(layers framework link db conduit)
set(failures "")
foreach(layer IN LISTS layers)
  list(FIND layers ${layer} rank)
  file(GLOB_RECURSE files "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" folder "${header}")
      list(FIND layers "${folder}" folder_rank)
      if(folder_rank GREATER rank)
        file(RELATIVE_PATH shown ${ROOT} ${file})
        list(APPEND failures "${shown} (${layer}) includes ${header} (${folder})")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes against the layers (framework <- link <- db <- conduit):\n  ${text}")
endif()
message(STATUS "Layer includes: none against the flow")
