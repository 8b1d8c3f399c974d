# The example programs run against a real master (pymodbus).
if(EXISTS ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt)
  foreach(kind tcp rtu)
    add_test(NAME example_${kind}_slave
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/examples/example_e2e.py ${kind}
              $<TARGET_FILE:mbslave_example_${kind}_slave>)
    set_tests_properties(example_${kind}_slave PROPERTIES TIMEOUT 120)
  endforeach()
endif()
