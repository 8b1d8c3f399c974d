# Interoperability of the RTU and ASCII slaves with real masters over a pair
# of pseudo-terminals joined by tests/interop/pty_bridge.py: libmodbus's RTU
# master (C), pymodbus's serial master with the RTU and the ASCII framer
# (Debian's python3-pymodbus and python3-serial under /usr/bin/python3) and
# mbpoll in RTU mode, each at 9600 and 115200 baud. The peers are required:
# a missing one fails the configuration instead of skipping the suites.
if(CMAKE_CROSSCOMPILING)
  message(STATUS "interop_serial: not built when cross-compiling (the peers run natively)")
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
set(MBSLAVE_SYSTEM_PYTHON /usr/bin/python3)
execute_process(COMMAND ${MBSLAVE_SYSTEM_PYTHON} -c "import pymodbus.client, serial"
                RESULT_VARIABLE serial_peers_missing OUTPUT_QUIET ERROR_QUIET)
if(serial_peers_missing)
  message(FATAL_ERROR "interop_serial needs python3-pymodbus and python3-serial for "
                      "${MBSLAVE_SYSTEM_PYTHON} (tools/install-deps.sh installs them)")
endif()
find_program(MBSLAVE_MBPOLL mbpoll)
if(NOT MBSLAVE_MBPOLL)
  message(FATAL_ERROR "interop_serial needs mbpoll (tools/install-deps.sh installs it)")
endif()

set(interop_dir ${CMAKE_CURRENT_SOURCE_DIR}/interop)

add_executable(serial_interop_server ${interop_dir}/serial_interop_server.c)
target_link_libraries(serial_interop_server PRIVATE mbslave)
mbslave_apply_warnings(serial_interop_server)

add_executable(libmodbus_rtu_client ${interop_dir}/libmodbus_rtu_client.c)
target_link_libraries(libmodbus_rtu_client PRIVATE PkgConfig::LIBMODBUS)
mbslave_apply_warnings(libmodbus_rtu_client)

set(run_serial ${interop_dir}/run_serial_interop.sh ${MBSLAVE_SYSTEM_PYTHON}
    $<TARGET_FILE:serial_interop_server>)
set(serial_interop_tests "")
foreach(baud 9600 115200)
  add_test(NAME interop_rtu_libmodbus_${baud}
    COMMAND ${run_serial} rtu ${baud} $<TARGET_FILE:libmodbus_rtu_client> @PORT@ @BAUD@)
  add_test(NAME interop_rtu_mbpoll_${baud}
    COMMAND ${run_serial} rtu ${baud} ${interop_dir}/mbpoll_rtu.sh @PORT@ @BAUD@)
  foreach(kind rtu ascii)
    add_test(NAME interop_${kind}_pymodbus_${baud}
      COMMAND ${run_serial} ${kind} ${baud} ${MBSLAVE_SYSTEM_PYTHON}
              ${interop_dir}/pymodbus_serial_client.py ${kind} @PORT@ @BAUD@)
    list(APPEND serial_interop_tests interop_${kind}_pymodbus_${baud})
  endforeach()
  list(APPEND serial_interop_tests interop_rtu_libmodbus_${baud} interop_rtu_mbpoll_${baud})
endforeach()
set_tests_properties(${serial_interop_tests} PROPERTIES
  TIMEOUT 180 FAIL_REGULAR_EXPRESSION "FAILED")
