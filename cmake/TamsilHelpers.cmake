# tamsil_add_gtest(<name> SOURCES <files...> LIBS <targets...> [WRAPPER <cmd...>])
# Builds one GoogleTest executable and registers each of its tests with ctest.
# WRAPPER runs the executable through a launcher (for example a private mount
# namespace for the library's tests).
function(tamsil_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(T_WRAPPER)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${T_WRAPPER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()

# tamsil_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
function(tamsil_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
