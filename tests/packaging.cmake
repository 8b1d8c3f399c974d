# Installs into a temporary prefix and builds a consumer with find_package and
# with pkg-config. Needs the simulator, which is part of the installation.
if(MBSLAVE_BUILD_TOOLS)
  set(MBSLAVE_CONSUMER_FLAGS "")
  if(MBSLAVE_SANITIZE)
    set(MBSLAVE_CONSUMER_FLAGS "-fsanitize=address,undefined")
  endif()
  add_test(NAME packaging
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/packaging_test.sh
            ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/packaging "${MBSLAVE_CONSUMER_FLAGS}")
  set_tests_properties(packaging PROPERTIES TIMEOUT 300)
endif()
