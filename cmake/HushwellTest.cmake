include(GoogleTest)

# hushwell_add_test(name SOURCES ... LIBRARIES ... [LABELS ...]): a GoogleTest program whose
# cases CTest discovers one by one.
function(hushwell_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
  hushwell_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS "${ARG_LABELS}")
endfunction()
