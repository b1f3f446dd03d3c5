# GoogleTest: the system package on Linux, built from /usr/src/googletest when cross-compiling.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Every ctest entry has a time-out of its own (seconds), so that a fault fails it instead of
# hanging the run: natively a test case, under the cross build a whole program.
set(HALDEN_TEST_TIMEOUT 60)
set(HALDEN_PROGRAM_TIMEOUT 600)

# halden_test(name SOURCES ... LIBS ... [TIMEOUT seconds] [PROPERTIES ...]): one test program;
# under the cross build each program is one ctest entry run through the emulator, natively every
# test case is its own entry. Each entry has a time-out (TIMEOUT, by default HALDEN_TEST_TIMEOUT a
# case and HALDEN_PROGRAM_TIMEOUT a program); PROPERTIES are set on every entry (for instance a
# RESOURCE_LOCK).
function(halden_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(CMAKE_CROSSCOMPILING)
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT ${HALDEN_PROGRAM_TIMEOUT})
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
  else()
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT ${HALDEN_TEST_TIMEOUT})
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
  endif()
endfunction()
