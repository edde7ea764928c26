# Helpers that give every target of the project the same warnings and layout.

set(KAVO_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
# The project's own scripts turn warnings into errors; a plain build by someone else's compiler
# or flags only warns.
if(KAVO_WERROR)
  list(APPEND KAVO_WARNINGS -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports impossible overlaps inside std::string at -O3 (a known false positive).
  list(APPEND KAVO_WARNINGS -Wno-restrict)
endif()

# kavo_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# One library per source folder; headers are included as "<folder>/<Header>.h" from src/.
function(kavo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${KAVO_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# Under ThreadSanitizer a test program takes longer to start and end than most of its tests
# take to run: there each suite runs as this many shards, one program each, instead of one
# program per test. The AddressSanitizer build keeps every test in a process of its own.
set(KAVO_TSAN_SHARDS 6)

# kavo_test(<name> SOURCES ... DEPS ... [TEST_BY_TEST])
# One GoogleTest executable per test folder, registered with CTest test by test (under
# ThreadSanitizer shard by shard, as <name>.shard<index>, unless TEST_BY_TEST: a suite whose
# tests cannot share a program).
function(kavo_test name)
  cmake_parse_arguments(ARG "TEST_BY_TEST" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/TsanSuppressions.cpp)
  target_compile_options(${name} PRIVATE ${KAVO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kavo_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  if(KAVO_SANITIZE STREQUAL "thread" AND NOT ARG_TEST_BY_TEST)
    math(EXPR last "${KAVO_TSAN_SHARDS} - 1")
    foreach(shard RANGE ${last})
      add_test(NAME ${name}.shard${shard} COMMAND ${name})
      set_tests_properties(${name}.shard${shard} PROPERTIES TIMEOUT 300 ENVIRONMENT
        "GTEST_TOTAL_SHARDS=${KAVO_TSAN_SHARDS};GTEST_SHARD_INDEX=${shard}")
    endforeach()
  else()
    gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  endif()
endfunction()

# kavo_bench(<name> SOURCES ... DEPS ...)
# The program's main calls bench::runWithRatios (bench/Ratios.h).
function(kavo_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${KAVO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kavo_bench_ratios)
endfunction()
