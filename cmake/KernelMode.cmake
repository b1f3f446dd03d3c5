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
