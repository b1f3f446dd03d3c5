# Kernel-mode code: no exceptions, no RTTI, and on Windows the driver kit's headers of the cross
# toolchain (platform/wdm.h includes them).
if(WIN32)
  find_path(HALDEN_DDK_INCLUDE_DIR ntifs.h PATH_SUFFIXES ddk include/ddk REQUIRED)
endif()

# halden_kernel_mode(target): compiles the target's sources as kernel-mode code.
function(halden_kernel_mode target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  if(WIN32)
    target_include_directories(${target} SYSTEM PRIVATE ${HALDEN_DDK_INCLUDE_DIR})
    # The kit's inline KeGetCurrentThread reads the thread block at a constant address.
    target_compile_options(${target} PRIVATE -Wno-array-bounds)
  endif()
endfunction()

# halden_kernel_driver(name SOURCES ... [LIBS ...]): a kernel-mode driver from the same sources in
# both builds, with the driver kit's library routines (halden_wdmlib: IoCreateDeviceSecure, which
# the toolchain lacks). Windows: name.sys, native subsystem, entry DriverEntry, linked against the
# kernel alone. Linux: libname.so, exporting only DriverEntry, for the simulated kernel's loader.
function(halden_kernel_driver name)
  cmake_parse_arguments(D "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${D_SOURCES})
  halden_kernel_mode(${name})
  target_link_libraries(${name} PRIVATE ${D_LIBS})
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".sys")
    target_link_options(${name} PRIVATE -nostdlib -Wl,--subsystem,native
                        -Wl,--entry,DriverEntry)
    target_link_libraries(${name} PRIVATE halden_wdmlib ntoskrnl gcc)
  else()
    # Only the version script decides what is exported: DriverEntry alone.
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET default)
    target_link_libraries(${name} PRIVATE halden_wdmlib HaldenPlatform)
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/kernel_driver.map -Wl,--no-undefined)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
                 ${PROJECT_SOURCE_DIR}/cmake/kernel_driver.map)
  endif()
endfunction()

# halden_kernel_image_test(target [UNIMPORTED routine...]): in the Windows build, a test that the
# driver image has the native subsystem, imports from ntoskrnl.exe (and the HAL) alone, and
# imports none of the routines listed (those it looks up by name).
function(halden_kernel_image_test target)
  cmake_parse_arguments(K "" "" "UNIMPORTED" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  find_program(HALDEN_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
  string(REPLACE ";" "," unimported "${K_UNIMPORTED}")
  add_test(NAME kernel_image_${target}
    COMMAND ${CMAKE_COMMAND} -DIMAGE=$<TARGET_FILE:${target}> -DTOOL=${HALDEN_OBJDUMP}
            -DALLOWED=ntoskrnl.exe,HAL.dll -DUNIMPORTED=${unimported}
            -P ${PROJECT_SOURCE_DIR}/cmake/check_kernel_image.cmake)
  set_tests_properties(kernel_image_${target} PROPERTIES TIMEOUT ${HALDEN_TEST_TIMEOUT})
endfunction()

# halden_kernel_vector_code_test(target LIBS lib... PATHS regex ENTRIES regex): a test that the AVX
# code of the driver and of the static libraries it links is in the objects whose file names match
# PATHS alone (the vector paths, which it runs only with the extended register state saved), and
# that those objects give external linkage to their entry points (ENTRIES) alone.
function(halden_kernel_vector_code_test target)
  cmake_parse_arguments(K "" "PATHS;ENTRIES" "LIBS" ${ARGN})
  if(WIN32)
    find_program(HALDEN_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    find_program(HALDEN_NM NAMES x86_64-w64-mingw32-nm REQUIRED)
  else()
    find_program(HALDEN_OBJDUMP NAMES objdump REQUIRED)
    find_program(HALDEN_NM NAMES nm REQUIRED)
  endif()
  set(objects "$<TARGET_OBJECTS:${target}>")
  foreach(lib IN LISTS K_LIBS)
    string(APPEND objects ";$<TARGET_OBJECTS:${lib}>")
  endforeach()
  add_test(NAME kernel_vector_code_${target}
    COMMAND ${CMAKE_COMMAND} "-DOBJECTS=$<JOIN:${objects},|>" -DOBJDUMP=${HALDEN_OBJDUMP}
            -DNM=${HALDEN_NM} "-DPATHS=${K_PATHS}" "-DENTRIES=${K_ENTRIES}"
            -P ${PROJECT_SOURCE_DIR}/cmake/check_vector_code.cmake)
  set_tests_properties(kernel_vector_code_${target} PROPERTIES TIMEOUT ${HALDEN_TEST_TIMEOUT})
endfunction()
