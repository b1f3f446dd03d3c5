# GoogleTest: the system package on Linux, built from /usr/src/googletest when cross-compiling.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# halden_test(name SOURCES ... LIBS ... [TIMEOUT seconds]): one test program; under the cross
# build each program is one ctest entry run through the emulator, natively every test case is its
# own entry. TIMEOUT bounds each entry.
function(halden_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    if(T_TIMEOUT)
      set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
  elseif(T_TIMEOUT)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
