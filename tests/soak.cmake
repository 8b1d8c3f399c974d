# Hostile-traffic soak: Modbus/TCP, RTU over TCP, UDP (and Modbus/TCP
# Security where libmbslave-tls is built) served at once under
# abusive masters (label "soak"). It runs its full minute in the sanitizer
# build and a short round in the others. It runs alone: its load would upset
# the timing of the serial suites running beside it.
add_executable(mbslave_soak ${CMAKE_CURRENT_LIST_DIR}/soak/hostile_soak.cpp)
target_link_libraries(mbslave_soak PRIVATE mbslave_test_support)
mbslave_apply_warnings(mbslave_soak)
if(MBSLAVE_SANITIZE)
  set(MBSLAVE_SOAK_SECONDS 60)
else()
  set(MBSLAVE_SOAK_SECONDS 10)
endif()
add_test(NAME hostile_soak COMMAND mbslave_soak ${MBSLAVE_SOAK_SECONDS})
set_tests_properties(hostile_soak PROPERTIES LABELS soak TIMEOUT 300 RUN_SERIAL TRUE)
# With libmbslave-tls, Modbus/TCP Security as a fourth server, with the PKI
# that tls.cmake's fixture makes.
if(TARGET mbslave_tls_core)
  target_link_libraries(mbslave_soak PRIVATE mbslave_tls_core)
  target_compile_definitions(mbslave_soak PRIVATE MBSLAVE_SOAK_TLS=1)
  set_tests_properties(hostile_soak PROPERTIES FIXTURES_REQUIRED tls_pki
    ENVIRONMENT MBSLAVE_TEST_PKI=${CMAKE_CURRENT_BINARY_DIR}/tls-pki)
endif()
