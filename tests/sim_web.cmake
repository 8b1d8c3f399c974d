# mbslave-sim's web page in a real browser (headless chromium through
# python3-selenium and chromium-driver, tools/install-deps.sh browser). Off by
# default: tools/run-browser-tests.sh turns it on and runs label "browser".
option(MBSLAVE_BROWSER_TESTS "Test the simulator's web page in headless chromium" OFF)
if(MBSLAVE_BUILD_TOOLS AND MBSLAVE_BROWSER_TESTS)
  foreach(case tables edit log refused guard formats)
    add_test(NAME sim_web_${case}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_web.py $<TARGET_FILE:mbslave-sim> ${case})
    set_tests_properties(sim_web_${case} PROPERTIES TIMEOUT 120 LABELS browser)
  endforeach()
  # The roles of tls masters in the page's request log; skipped (77) without tls.
  add_test(NAME sim_web_tls
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/sim/e2e/sim_tls.py $<TARGET_FILE:mbslave-sim>
            ${PROJECT_SOURCE_DIR}/tools/make-test-pki.sh --browser)
  set_tests_properties(sim_web_tls PROPERTIES TIMEOUT 180 LABELS browser SKIP_RETURN_CODE 77)
endif()
