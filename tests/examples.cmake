# The example programs run against a real master (pymodbus).
if(EXISTS ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt)
  add_test(NAME example_tcp_slave
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/examples/example_e2e.py tcp
            $<TARGET_FILE:mbslave_example_tcp_slave>)
  set_tests_properties(example_tcp_slave PROPERTIES TIMEOUT 120)
endif()
