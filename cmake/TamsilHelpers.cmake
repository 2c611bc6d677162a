# How many cases of a test program share one ctest test (one process, and for
# the library's programs one test root): a program with more is split into
# shards that ctest -j runs side by side. The one place to tune it.
set(TAMSIL_CASES_PER_SHARD 40 CACHE STRING "gtest cases per ctest test (shard)")

# The test programs' own sources (not the code they test, which keeps the
# build type's flags) are built for compile time: with -O2 and full debug
# information a test source takes about twice as long, and the test code is
# neither shipped nor measured. Line tables keep the file:line of every
# assertion and of every frame of a sanitizer's report.
set(TAMSIL_TEST_COMPILE_OPTIONS "-O1;-g1" CACHE STRING "Extra compile options of the test programs' sources")

# tamsil_add_gtest(<name> SOURCES <files...> LIBS <targets...> [WRAPPER <cmd...>] [SHARDS <n>])
# Builds one GoogleTest executable and registers it with ctest as one test
# per shard: "<name>" when the program is one shard, "<name>/<k>" (k = 1..n)
# when it is split; each shard runs its part of the cases in one process
# (gtest's GTEST_TOTAL_SHARDS / GTEST_SHARD_INDEX). The number of shards comes
# from the number of TEST macros in the sources (TAMSIL_CASES_PER_SHARD) unless
# SHARDS gives it. Each case passes or fails in gtest's own output (ctest
# --output-on-failure) and in build/<flavour>/test-results/<test>.xml (JUnit).
# One case, or a few: GTEST_FILTER='Suite.Case*' ctest -R '^<name>'.
# WRAPPER runs the executable through a launcher (for example a private mount
# namespace for the library's tests). An executable run in the test root gets
# the root's guard (started anywhere else it stops before main,
# platform/testroot/testroot.h) and has the root's writable paths put back
# before each case (testroot_cases.cpp).
function(tamsil_add_gtest name)
  cmake_parse_arguments(T "" "SHARDS" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_options(${name} PRIVATE ${TAMSIL_TEST_COMPILE_OPTIONS})
  endif()
  set(_cmd $<TARGET_FILE:${name}>)
  if(T_WRAPPER)
    set(_cmd ${T_WRAPPER} ${_cmd})
    if(T_WRAPPER STREQUAL TAMSIL_TESTROOT)
      target_link_libraries(${name} PRIVATE testroot_guard testroot_cases)
    endif()
  endif()
  set(_cases 0)
  foreach(src IN LISTS T_SOURCES)
    get_filename_component(src "${src}" ABSOLUTE)
    if(EXISTS "${src}")
      file(STRINGS "${src}" _hits REGEX "^[ \t]*(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)[ \t]*\\(")
      list(LENGTH _hits _n)
      math(EXPR _cases "${_cases} + ${_n}")
    endif()
  endforeach()
  if(T_SHARDS)
    set(_shards ${T_SHARDS})
  else()
    math(EXPR _shards "(${_cases} + ${TAMSIL_CASES_PER_SHARD} - 1) / ${TAMSIL_CASES_PER_SHARD}")
  endif()
  if(_shards LESS 1)
    set(_shards 1)
  endif()
  # ctest starts the longest first (until it has measured them itself).
  math(EXPR _cost "(${_cases} + ${_shards} - 1) / ${_shards}")
  set(_results ${CMAKE_BINARY_DIR}/test-results)
  foreach(k RANGE 1 ${_shards})
    if(_shards EQUAL 1)
      set(_test ${name})
    else()
      set(_test ${name}/${k})
    endif()
    string(REPLACE "/" "-" _xml "${_test}")
    math(EXPR _index "${k} - 1")
    add_test(NAME ${_test} COMMAND ${_cmd})
    set_tests_properties(${_test} PROPERTIES
      TIMEOUT 1200 COST ${_cost}
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${_shards};GTEST_SHARD_INDEX=${_index};GTEST_OUTPUT=xml:${_results}/${_xml}.xml")
  endforeach()
endfunction()

# tamsil_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
function(tamsil_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# tamsil_add_host_test(<name> SOURCES <files...> [FIXTURES <test dirs...>] [SHARDS <n>])
# A library test over the emulated host devices (32-bit flavour, when the
# device interposer is built), run in the throw-away test root. FIXTURES
# names sibling test folders whose fixture headers the test includes.
function(tamsil_add_host_test name)
  cmake_parse_arguments(H "" "SHARDS" "SOURCES;FIXTURES" ${ARGN})
  if(NOT TAMSIL_FLAVOR STREQUAL "i386" OR NOT TARGET chardev_interpose)
    return()
  endif()
  set(_shards)
  if(H_SHARDS)
    set(_shards SHARDS ${H_SHARDS})
  endif()
  tamsil_add_gtest(${name} SOURCES ${H_SOURCES} LIBS drelmo_internal chardev_interpose chardev
                   ${_shards} WRAPPER ${TAMSIL_TESTROOT})
  foreach(dir IN LISTS H_FIXTURES)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/${dir})
  endforeach()
endfunction()
