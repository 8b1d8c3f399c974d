# Interoperability of the Modbus/TCP server with real masters: libmodbus (C)
# and pymodbus (Debian's python3-pymodbus under /usr/bin/python3) read and
# write every function code they offer against tests/interop's server.
# The peers are required: a missing one fails the configuration instead of
# skipping the suites. Cross builds cannot run the native peers.
if(CMAKE_CROSSCOMPILING)
  message(STATUS "interop_tcp: not built when cross-compiling (the peers run natively)")
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
set(MBSLAVE_SYSTEM_PYTHON /usr/bin/python3)
execute_process(COMMAND ${MBSLAVE_SYSTEM_PYTHON} -c "import pymodbus"
                RESULT_VARIABLE pymodbus_missing OUTPUT_QUIET ERROR_QUIET)
if(pymodbus_missing)
  message(FATAL_ERROR "interop_tcp needs python3-pymodbus for ${MBSLAVE_SYSTEM_PYTHON} "
                      "(tools/install-deps.sh installs it)")
endif()

set(interop_dir ${CMAKE_CURRENT_SOURCE_DIR}/interop)

add_executable(tcp_interop_server ${interop_dir}/tcp_interop_server.c)
target_link_libraries(tcp_interop_server PRIVATE mbslave)
mbslave_apply_warnings(tcp_interop_server)

add_executable(libmodbus_client ${interop_dir}/libmodbus_client.c)
target_link_libraries(libmodbus_client PRIVATE PkgConfig::LIBMODBUS)
mbslave_apply_warnings(libmodbus_client)

add_test(NAME interop_tcp_libmodbus
  COMMAND ${interop_dir}/run_with_server.sh $<TARGET_FILE:tcp_interop_server>
          $<TARGET_FILE:libmodbus_client> @PORT@)
add_test(NAME interop_tcp_pymodbus
  COMMAND ${interop_dir}/run_with_server.sh $<TARGET_FILE:tcp_interop_server>
          ${MBSLAVE_SYSTEM_PYTHON} ${interop_dir}/pymodbus_client.py @PORT@)
set_tests_properties(interop_tcp_libmodbus interop_tcp_pymodbus PROPERTIES
  TIMEOUT 180 FAIL_REGULAR_EXPRESSION "FAILED")

# The same server program as an RTU-over-TCP and as a UDP server, with
# pymodbus as the master: its RTU framer on a TCP connection and its UDP
# client.
foreach(kind rtutcp udp)
  add_test(NAME interop_${kind}_pymodbus
    COMMAND ${interop_dir}/run_with_server.sh --server-arg ${kind}
            $<TARGET_FILE:tcp_interop_server>
            ${MBSLAVE_SYSTEM_PYTHON} ${interop_dir}/pymodbus_client.py @PORT@ ${kind})
  set_tests_properties(interop_${kind}_pymodbus PROPERTIES
    TIMEOUT 180 FAIL_REGULAR_EXPRESSION "FAILED")
endforeach()
