# Install rules and the CMake package (find_package(Fernwick)):
#
#   include/fernwick/   the public headers (<fernwick/conduit/ConduitModule.h>,
#                       ...: include/fernwick/ of the sources, the abi/
#                       headers a conduit or tool uses) and the generated
#                       <fernwick/FernwickVersion.h>; nothing else
#   lib/                the five layer libraries (Fernwick::fernwick) and,
#                       where forms are shown with FLTK, the window module
#                       libfernwick_forms_fltk.so that they load
#   lib/cmake/Fernwick/ FernwickConfig.cmake, FernwickConfigVersion.cmake,
#                       FernwickTargets.cmake
#   share/fernwick/     fernwick_add_conduit (cmake/FernwickConduit.cmake)
#                       with the sources it adds to each conduit
#                       (conduit/exports/) and resources/
#   bin/                the runner, the stand-ins and the tools
#
# The stand-ins are installed beside the runner: it loads them from its own
# folder, as HotSync Manager loads its libraries.
include(CMakePackageConfigHelpers)

set(FERNWICK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Fernwick)
set(FERNWICK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/fernwick)

install(TARGETS fernwick fernwick_framework fernwick_link fernwick_db fernwick_conduit
  fernwick_sync   fernwick_dynlib fernwick_abi fernwick_version
  EXPORT FernwickTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
if(TARGET fernwick_forms_fltk)
  # Fernwick::forms_fltk in the package: fernwick_add_conduit puts a copy
  # beside each conduit it builds.
  install(TARGETS fernwick_forms_fltk EXPORT FernwickTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()
# The public headers of the five layers, merged under include/fernwick/ (the
# build gives each layer a root of its own, cmake/FernwickLayers.cmake). Of
# the binary interfaces only those a conduit or a tool includes: the Sync
# Manager's and HotSync Manager's records and functions; the emulator's
# extra exports and the window module's are the stand-ins' and the
# framework's own.
foreach(layer framework link db conduit sync)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/fernwick/${layer}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fernwick COMPONENT development)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/include/fernwick/abi/SyncApi.h
  ${PROJECT_SOURCE_DIR}/include/fernwick/abi/SyncProperties.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fernwick/abi COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/include/fernwick/FernwickVersion.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fernwick COMPONENT development)

install(FILES ${PROJECT_SOURCE_DIR}/cmake/FernwickConduit.cmake
  DESTINATION ${FERNWICK_INSTALL_DATADIR}/cmake COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/conduit/exports
  DESTINATION ${FERNWICK_INSTALL_DATADIR}/conduit COMPONENT development)
if(EXISTS ${PROJECT_SOURCE_DIR}/resources)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/
    DESTINATION ${FERNWICK_INSTALL_DATADIR}/resources COMPONENT development
    PATTERN "*.py" EXCLUDE)
endif()

install(EXPORT FernwickTargets NAMESPACE Fernwick::
  DESTINATION ${FERNWICK_INSTALL_CMAKEDIR} COMPONENT development)
# The same targets for a build tree used without installing.
export(EXPORT FernwickTargets NAMESPACE Fernwick::
  FILE ${PROJECT_BINARY_DIR}/FernwickTargets.cmake)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/FernwickConfig.cmake.in
  ${PROJECT_BINARY_DIR}/FernwickConfig.cmake
  INSTALL_DESTINATION ${FERNWICK_INSTALL_CMAKEDIR}
  PATH_VARS FERNWICK_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/FernwickConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/FernwickConfig.cmake
  ${PROJECT_BINARY_DIR}/FernwickConfigVersion.cmake
  DESTINATION ${FERNWICK_INSTALL_CMAKEDIR} COMPONENT development)

# The programs and libraries a conduit author runs.
set(fernwick_programs)
foreach(t sync20 PalmCmn Cmds21 hslog20 fernwick-hotsync fernwick-pdbdump fernwick-emudump
    fernwick-make-samples link-check)
  if(TARGET ${t})
    list(APPEND fernwick_programs ${t})
  endif()
endforeach()
if(fernwick_programs)
  if(NOT WIN32)
    # The stand-in libraries lie in bin/ beside the programs (Windows finds
    # DLLs there by itself); the install would otherwise drop the build
    # tree's RUNPATH and leave fernwick-emudump without libsync20.so.
    foreach(t ${fernwick_programs})
      get_target_property(type ${t} TYPE)
      if(type STREQUAL "EXECUTABLE")
        set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
      endif()
    endforeach()
  endif()
  install(TARGETS ${fernwick_programs}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs
    LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()
include(FernwickPackaging)
