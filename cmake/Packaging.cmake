# Install rules: the shared library with its SONAME, the public header, a CMake
# package (find_package(mbslave) gives mbslave::mbslave) and a pkg-config file.
# The simulator installs itself from tools/. Install components: runtime (the
# shared library), dev (everything to build against it), sim (the simulator).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MBSLAVE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mbslave)

install(TARGETS mbslave EXPORT mbslaveTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/mbslave.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(WIN32)
  install(FILES ${MBSLAVE_DEF_FILE} ${MBSLAVE_MSVC_IMPORT_LIBRARY}
    DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()

install(EXPORT mbslaveTargets
  NAMESPACE mbslave::
  DESTINATION ${MBSLAVE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/mbslaveConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mbslaveConfig.cmake
  INSTALL_DESTINATION ${MBSLAVE_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/mbslaveConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/mbslaveConfig.cmake
  ${PROJECT_BINARY_DIR}/mbslaveConfigVersion.cmake
  DESTINATION ${MBSLAVE_CMAKE_DIR} COMPONENT dev)

# The pkg-config file finds its prefix relative to its own location, so an
# installation can be moved (or made with cmake --install --prefix DIR).
file(RELATIVE_PATH MBSLAVE_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/mbslave.pc.in
  ${PROJECT_BINARY_DIR}/mbslave.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mbslave.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# libmbslave-tls in components of its own (tls-runtime, tls-dev), so that the
# packages of libmbslave never carry it: its library, header, targets file
# (mbslave::mbslave_tls, included by the package file when present) and
# mbslave-tls.pc.
if(TARGET mbslave_tls)
  install(TARGETS mbslave_tls EXPORT mbslaveTlsTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT tls-runtime NAMELINK_COMPONENT tls-dev)
  install(FILES ${PROJECT_SOURCE_DIR}/include/mbslave_tls.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT tls-dev)
  install(EXPORT mbslaveTlsTargets
    NAMESPACE mbslave::
    DESTINATION ${MBSLAVE_CMAKE_DIR} COMPONENT tls-dev)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/mbslave-tls.pc.in
    ${PROJECT_BINARY_DIR}/mbslave-tls.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/mbslave-tls.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT tls-dev)
endif()
