# CPack: a .deb on Linux and a .zip for Windows, each holding everything the
# install rules put in place (cmake/FernwickInstall.cmake):
#
#   cmake --build <build> --target package
set(CPACK_PACKAGE_NAME fernwick)
set(CPACK_PACKAGE_VENDOR "Fernwick")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fernwick: ${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Fernwick developers <fernwick@localhost>")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Programs and shared libraries without their debug information (static
# libraries are never stripped).
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
  # The window module links FLTK (forms in windows); conduits load it when
  # they show a form.
  if(TARGET fernwick_forms_fltk)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libfltk1.3")
  endif()
endif()
include(CPack)
