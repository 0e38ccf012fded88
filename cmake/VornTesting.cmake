include(GoogleTest)

# vorn_add_test(NAME name SOURCES ... LIBS ... [DEFINES ...])
# One GoogleTest executable, its cases registered with ctest.
function(vorn_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;DEFINES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  vorn_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE ${T_DEFINES}
    VORN_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
