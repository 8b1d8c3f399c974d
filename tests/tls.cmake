# Modbus/TCP Security: libmbslave-tls through its C interface on loopback,
# with a throwaway PKI that tools/make-test-pki.sh makes before the tests
# (the openssl command line; OpenSSL's client is the master).
if(NOT TARGET mbslave_tls)
  return()
endif()
find_program(MBSLAVE_OPENSSL openssl REQUIRED)

add_executable(test_tls tls/tls_test.cpp)
target_include_directories(test_tls PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_tls PRIVATE mbslave_tls OpenSSL::SSL OpenSSL::Crypto GTest::gtest GTest::gtest_main)
mbslave_apply_warnings(test_tls)

set(MBSLAVE_TEST_PKI ${CMAKE_CURRENT_BINARY_DIR}/tls-pki)
add_test(NAME tls_test_pki
  COMMAND ${CMAKE_COMMAND} -E env PATH=$ENV{PATH}
          ${PROJECT_SOURCE_DIR}/tools/make-test-pki.sh ${MBSLAVE_TEST_PKI})
set_tests_properties(tls_test_pki PROPERTIES FIXTURES_SETUP tls_pki TIMEOUT 120)
gtest_discover_tests(test_tls DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED tls_pki ENVIRONMENT MBSLAVE_TEST_PKI=${MBSLAVE_TEST_PKI})

# Tests that reach into the protocol objects through the static libraries:
# the hostile-request table (unit/hardening) through Modbus/TCP Security,
# and the handshake time-out on a fake clock.
add_executable(test_tls_core
  ${CMAKE_CURRENT_SOURCE_DIR}/unit/hardening/hostile_request_test.cpp tls/tls_attack_target.cpp
  tls/handshake_timeout_test.cpp)
target_link_libraries(test_tls_core PRIVATE mbslave_tls_core mbslave_test_support)
mbslave_apply_warnings(test_tls_core)
gtest_discover_tests(test_tls_core DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED tls_pki ENVIRONMENT MBSLAVE_TEST_PKI=${MBSLAVE_TEST_PKI})

# Its run time: the C library and OpenSSL's libssl and libcrypto.
if(NOT MBSLAVE_SANITIZE)
  add_test(NAME tls_runtime_dependencies
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_runtime_deps.sh
            $<TARGET_FILE:mbslave_tls> ${CMAKE_READELF} libssl.so.3 libcrypto.so.3)
endif()

# libmbslave-tls exports the 31 functions and those of mbslave_tls.h, nothing else.
add_test(NAME tls_exported_symbols
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check_exports.sh
          $<TARGET_FILE:mbslave_tls> ${PROJECT_SOURCE_DIR}/include/mbslave.h
          ${PROJECT_SOURCE_DIR}/include/mbslave_tls.h)

# pymodbus's TLS client (its socket framer: the MBAP header inside TLS)
# against the example TLS slave (on the build machine only).
if(EXISTS ${PROJECT_SOURCE_DIR}/examples/tls_slave.c AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME interop_tls_pymodbus
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/interop/run_tls_interop.sh
            $<TARGET_FILE:mbslave_example_tls_slave> ${MBSLAVE_TEST_PKI}
            /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/interop/pymodbus_tls_client.py)
  set_tests_properties(interop_tls_pymodbus PROPERTIES
    TIMEOUT 120 FIXTURES_REQUIRED tls_pki FAIL_REGULAR_EXPRESSION "FAILED")
endif()
