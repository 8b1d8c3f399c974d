# Debian packages made by CPack from the installation, one per install
# component:
#   libmbslave2    (runtime) the shared library with its SONAME
#   libmbslave-dev (dev)     header, unversioned library link, CMake package,
#                            mbslave.pc, manual pages of sections 3 and 7
#   mbslave-sim    (sim)     the simulator and its manual page
# and, where libmbslave-tls is built:
#   libmbslave-tls2    (tls-runtime) libmbslave-tls with its SONAME (OpenSSL 3)
#   libmbslave-tls-dev (tls-dev)     its header, library link, CMake targets,
#                                    mbslave-tls.pc and the TLS manual pages
# Configure with -DCMAKE_INSTALL_PREFIX=/usr (the library then lands in the
# multiarch directory), -DCMAKE_SKIP_INSTALL_RPATH=ON and
# -DMBSLAVE_BUILD_DOCS=ON, build, then run `cpack -G DEB` in the build
# directory; tools/run-package-tests.sh does all of it.

set(MBSLAVE_DEB_REVISION 1 CACHE STRING "Debian revision of the packages")
set(MBSLAVE_DEB_MAINTAINER "mbslave maintainers <maintainers@mbslave.invalid>" CACHE STRING
  "Maintainer field of the packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mbslave)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MBSLAVE_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev sim)
set(MBSLAVE_DEB_COMPONENT_PACKAGES runtime:libmbslave2 dev:libmbslave-dev sim:mbslave-sim)
if(TARGET mbslave_tls)
  list(APPEND CPACK_COMPONENTS_ALL tls-runtime tls-dev)
  list(APPEND MBSLAVE_DEB_COMPONENT_PACKAGES tls-runtime:libmbslave-tls2 tls-dev:libmbslave-tls-dev)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${MBSLAVE_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies of every ELF file come from dpkg-shlibdeps; the
# library's own package gets a shlibs file and ldconfig triggers.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The simulator links the library of its sibling package, which is not
# installed while the packages are made: dpkg-shlibdeps finds it in the
# build directory, and the dependency on libmbslave2 is named below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})

set(MBSLAVE_DEB_VERSION "${PROJECT_VERSION}-${MBSLAVE_DEB_REVISION}")

# Each package carries the Debian changelog (dated by SOURCE_DATE_EPOCH when
# set, for reproducible packages). Only for the packages: a plain
# `cmake --install` does not install it.
option(MBSLAVE_DEBIAN_FILES "Install the files of the Debian packages under share/doc" OFF)
if(MBSLAVE_DEBIAN_FILES)
  string(TIMESTAMP MBSLAVE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/docs/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  foreach(component_package ${MBSLAVE_DEB_COMPONENT_PACKAGES})
    string(REPLACE ":" ";" component_package ${component_package})
    list(GET component_package 0 component)
    list(GET component_package 1 package)
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmbslave2)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library cache is updated by dpkg's ldconfig trigger; the maintainer
# scripts given here keep CPack from writing ones that call ldconfig.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/docs/debian/triggers
  ${PROJECT_SOURCE_DIR}/docs/debian/postinst
  ${PROJECT_SOURCE_DIR}/docs/debian/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Modbus slave (server) protocol library
mbslave answers Modbus masters on Modbus/TCP, RTU over TCP, Modbus UDP and
on serial lines in RTU and ASCII framing. An application registers C
callbacks per slave address and calls the server loop from its own thread;
the library starts no threads and allocates nothing per request.

This package contains the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libmbslave-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libmbslave2 (= ${MBSLAVE_DEB_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "Modbus slave (server) protocol library - development files
mbslave answers Modbus masters on Modbus/TCP, RTU over TCP, Modbus UDP and
on serial lines in RTU and ASCII framing.

This package contains the C header, the CMake package, the pkg-config file
and the manual pages of the 31 functions and of the library's concepts.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME mbslave-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "libmbslave2 (= ${MBSLAVE_DEB_VERSION})")
set(CPACK_DEBIAN_SIM_DESCRIPTION "Modbus slave simulator
mbslave-sim is a Modbus slave with a demo device whose values change while
it runs, or with the values of a JSON map file, for any Modbus master. It
serves Modbus/TCP, RTU over TCP, Modbus UDP, and RTU or ASCII on a serial
line, and logs one line per request.")

# libssl3 comes from dpkg-shlibdeps; the development package needs OpenSSL's
# because mbslave-tls.pc names libssl and libcrypto, and libmbslave-dev's
# because the header includes mbslave.h and the CMake package file is there.
set(CPACK_DEBIAN_TLS-RUNTIME_PACKAGE_NAME libmbslave-tls2)
set(CPACK_DEBIAN_TLS-RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_TLS-RUNTIME_PACKAGE_CONTROL_EXTRA ${CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA})
set(CPACK_DEBIAN_TLS-RUNTIME_DESCRIPTION "Modbus slave library with Modbus/TCP Security (TLS)
libmbslave-tls is mbslave with Modbus/TCP Security: the Modbus/TCP server
inside TLS (OpenSSL 3), with mutual certificate authentication, the
master's role from its client certificate and an authorization callback
per request. It exports the functions of libmbslave as well.

This package contains the shared library.")

set(CPACK_DEBIAN_TLS-DEV_PACKAGE_NAME libmbslave-tls-dev)
set(CPACK_DEBIAN_TLS-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TLS-DEV_PACKAGE_DEPENDS
  "libmbslave-tls2 (= ${MBSLAVE_DEB_VERSION}), libmbslave-dev (= ${MBSLAVE_DEB_VERSION}), libssl-dev (>= 3)")
set(CPACK_DEBIAN_TLS-DEV_DESCRIPTION "Modbus slave library with Modbus/TCP Security - development files
libmbslave-tls is mbslave with Modbus/TCP Security: the Modbus/TCP server
inside TLS, with client certificates and roles.

This package contains the C header mbslave_tls.h, the CMake target
mbslave::mbslave_tls, the pkg-config file mbslave-tls.pc and the manual
pages of the TLS functions.")

include(CPack)
