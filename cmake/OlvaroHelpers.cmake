# olvaro_test(NAME SOURCES a_test.cpp ... LIBS lib ...)
# Builds one GoogleTest program and registers its cases with CTest.
function(olvaro_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT OLVARO_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "OLVARO_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# olvaro_fuzz(NAME SOURCES fuzz.cpp LIBS lib ... CORPUS dir)
# A libFuzzer target, built only when OLVARO_FUZZ is on (clang). It is also a
# CTest test labelled "fuzz" that runs for OLVARO_FUZZ_SECONDS on a scratch
# corpus seeded from the kept one; any finding fails the test.
function(olvaro_fuzz name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT OLVARO_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${work} ${CMAKE_CURRENT_BINARY_DIR}/${name}_artifacts)
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${OLVARO_FUZZ_SECONDS} -print_final_stats=1
                   -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}_artifacts/
                   ${work} ${F_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
