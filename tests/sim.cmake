# mbslave-sim: unit tests of its data model, map file, command line and
# callback bridge (test_sim), and end-to-end runs with real masters.
if(MBSLAVE_BUILD_TOOLS)
  file(GLOB MBSLAVE_SIM_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/sim/*.cpp)
  add_executable(test_sim ${MBSLAVE_SIM_TEST_SOURCES})
  # The library too: the command line's ranges are checked against its setters.
  target_link_libraries(test_sim PRIVATE mbslave_sim_model mbslave GTest::gtest GTest::gmock GTest::gtest_main)
  mbslave_apply_warnings(test_sim)
  gtest_discover_tests(test_sim DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()

# End to end: real masters drive the simulator.
if(MBSLAVE_BUILD_TOOLS)
  foreach(transport tcp rtutcp udp rtu ascii)
    add_test(NAME sim_e2e_${transport}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_e2e.py $<TARGET_FILE:mbslave-sim> ${transport})
    set_tests_properties(sim_e2e_${transport} PROPERTIES TIMEOUT 120)
  endforeach()
  add_test(NAME sim_errors
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_errors.py $<TARGET_FILE:mbslave-sim>)
  set_tests_properties(sim_errors PROPERTIES TIMEOUT 120)
  # tls with role rules; skipped (77) by a build without the TLS library.
  add_test(NAME sim_tls
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_tls.py $<TARGET_FILE:mbslave-sim>
            ${PROJECT_SOURCE_DIR}/tools/make-test-pki.sh)
  set_tests_properties(sim_tls PROPERTIES TIMEOUT 180 SKIP_RETURN_CODE 77)
  # The web port flooded while a master reads; skipped (77) by a build without the web page.
  add_test(NAME sim_web_flood
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_web_flood.py $<TARGET_FILE:mbslave-sim>)
  set_tests_properties(sim_web_flood PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
endif()
