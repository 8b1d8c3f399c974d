# The saved fuzz inputs (fuzz/corpus/<target>/) run as ordinary tests through
# the same entry functions as the libFuzzer targets (fuzz/*_entry.cpp).
file(GLOB MBSLAVE_FUZZ_ENTRIES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_entry.cpp)
if(MBSLAVE_FUZZ_ENTRIES)
  add_executable(test_fuzz_corpus ${CMAKE_CURRENT_LIST_DIR}/fuzz_corpus/corpus_test.cpp ${MBSLAVE_FUZZ_ENTRIES})
  target_include_directories(test_fuzz_corpus PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  target_link_libraries(test_fuzz_corpus PRIVATE mbslave_test_support)
  target_compile_definitions(test_fuzz_corpus PRIVATE
    MBSLAVE_FUZZ_CORPUS_DIR="${PROJECT_SOURCE_DIR}/fuzz/corpus")
  mbslave_apply_warnings(test_fuzz_corpus)
  # The TLS entries where libmbslave-tls is built (tls_entries.cpp).
  if(TARGET mbslave_tls_core)
    target_sources(test_fuzz_corpus PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/tls_entries.cpp)
    target_link_libraries(test_fuzz_corpus PRIVATE mbslave_tls_core)
    target_compile_definitions(test_fuzz_corpus PRIVATE MBSLAVE_FUZZ_TLS=1)
  endif()
  gtest_discover_tests(test_fuzz_corpus DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endif()
