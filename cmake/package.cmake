# The installed package: find_package(pelistra) and pkg-config's pelistra.pc. Included from
# platform/, whose library is the package's one imported target.
include(CMakePackageConfigHelpers)

# Paths under the prefix; the programs and the module find the library by $ORIGIN/../lib, so
# these stay fixed rather than following GNUInstallDirs.
set(PELISTRA_INSTALL_INCLUDEDIR include/pelistra)
set(PELISTRA_INSTALL_MODULE bin/pelistra.ax)
set(PELISTRA_INSTALL_CMAKEDIR lib/cmake/pelistra)

install(EXPORT pelistraTargets NAMESPACE pelistra:: DESTINATION ${PELISTRA_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/pelistraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/pelistraConfig.cmake
  INSTALL_DESTINATION ${PELISTRA_INSTALL_CMAKEDIR}
  PATH_VARS PELISTRA_INSTALL_INCLUDEDIR PELISTRA_INSTALL_MODULE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/pelistraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
configure_file(${PROJECT_SOURCE_DIR}/cmake/pelistra.pc.in ${PROJECT_BINARY_DIR}/cmake/pelistra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cmake/pelistraConfig.cmake ${PROJECT_BINARY_DIR}/cmake/pelistraConfigVersion.cmake
  DESTINATION ${PELISTRA_INSTALL_CMAKEDIR})
install(FILES ${PROJECT_BINARY_DIR}/cmake/pelistra.pc DESTINATION lib/pkgconfig)
