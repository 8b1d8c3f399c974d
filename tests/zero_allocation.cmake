# The server loop allocates nothing: a test program that replaces malloc and
# operator new to count heap allocations. AddressSanitizer replaces the same
# functions, so the program is left out of sanitizer builds.
if(NOT MBSLAVE_SANITIZE)
  add_executable(test_zero_allocation
    ${CMAKE_CURRENT_LIST_DIR}/zero_allocation/counting_allocator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zero_allocation/server_loop_test.cpp)
  target_link_libraries(test_zero_allocation PRIVATE mbslave_test_support)
  mbslave_apply_warnings(test_zero_allocation)
  gtest_discover_tests(test_zero_allocation DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
