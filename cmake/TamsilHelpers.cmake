# tamsil_add_gtest(<name> SOURCES <files...> LIBS <targets...> [WRAPPER <cmd...>])
# Builds one GoogleTest executable and registers each of its tests with ctest.
# WRAPPER runs the executable through a launcher (for example a private mount
# namespace for the library's tests). An executable run in the test root gets
# the root's guard: started anywhere else it stops before main
# (platform/testroot/testroot.h).
function(tamsil_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(T_WRAPPER)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${T_WRAPPER})
    if(T_WRAPPER STREQUAL TAMSIL_TESTROOT)
      target_link_libraries(${name} PRIVATE testroot_guard)
    endif()
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

# tamsil_add_host_test(<name> SOURCES <files...> [FIXTURES <test dirs...>])
# A library test over the emulated host devices (32-bit flavour, when the
# device interposer is built), run in the throw-away test root. FIXTURES
# names sibling test folders whose fixture headers the test includes.
function(tamsil_add_host_test name)
  cmake_parse_arguments(H "" "" "SOURCES;FIXTURES" ${ARGN})
  if(NOT TAMSIL_FLAVOR STREQUAL "i386" OR NOT TARGET chardev_interpose)
    return()
  endif()
  tamsil_add_gtest(${name} SOURCES ${H_SOURCES} LIBS drelmo_internal chardev_interpose chardev
                   WRAPPER ${TAMSIL_TESTROOT})
  foreach(dir IN LISTS H_FIXTURES)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/${dir})
  endforeach()
endfunction()
