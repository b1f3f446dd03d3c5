# cmake -DROOT=<tree root> -P check_layering.cmake
# The direction of the tree's dependencies, and the check that every #include keeps it.
#
# Each level below names its parts from the bottom up, one layer a line. A file may include the
# files of its own part and of parts on lower lines, never those of its own line or of a higher
# one; so no level's graph can hold a circle. An include is read as the build resolves it: a
# quoted name is looked up beside the including file first, then from the tree root (the one
# include folder, "platform/ntdll/dos_path.h"); a name in angle brackets from the tree root, and
# otherwise it is the system's.

# The top folders.
set(top_layers
  "base include"              # byte order helpers the system and the platform share; the
                              # libraries' public C headers
  "wire"                      # the layouts user-mode and kernel code both send (header-only)
  "platform"                  # the Windows surface on Linux and the simulated machine
  "crypto"                    # Pemra's algorithms (random bytes from the platform)
  "pemra usb driver oracles"
  "card sim"                  # the device build of Kelvane; the card's firmware model
  "volume"
  "softcard"
  "tools bench tests")

# The platform's components: user-mode DLLs over ntdll, ntdll over the kernel, the kernel over
# the Linux backends. The drivers of the simulated hardware (the USB bus with the bridge's function
# driver, the network adapters) sit on the kernel alone; the system's programs on the user-mode
# DLLs; the test controls on top, where nothing of the Windows surface reaches them.
set(platform_layers
  "api"                       # the SDK's headers
  "ddk"                       # the driver kit's headers
  "win32.h wdm.h"             # what user-mode and kernel-mode code include
  "core"                      # trace channels, the handle table, the last error
  "unix"                      # the Linux backends
  "ntoskrnl"                  # the simulated kernel
  "wdmlib usb_bus net ntdll"  # the kit's library, the simulated hardware's drivers; ntdll
  "kernel32 advapi32 setupapi shell32 user32"  # the user-mode DLLs
  "crt programs"              # the C runtime, the system's programs (FORMAT.com)
  "testing")                  # the test controls (namespace sim)

# The kernel's parts.
set(kernel_layers
  "not_implemented.h"         # bug checks, and what is declared but not provided
  "cm ke"                     # the registry store; threads, waits, events, spin locks
  "ex"                        # the pool
  "rtl"                       # the run-time library
  "ob mm"                     # objects, names and handles; MDLs, system routines by name
  "ps"                        # thread objects, system threads
  "fs"                        # the file system of host files
  "io"                        # the I/O manager, RAW, the service loader
  "zw dbg not_implemented.cc")  # the Zw services, DbgPrint

# What kernel-mode code never includes: the user-mode DLLs.
set(kernel_side "platform/ntoskrnl" "platform/wdmlib" "platform/usb_bus" "platform/net" "driver")
set(user_mode_dlls "platform/ntdll" "platform/kernel32" "platform/advapi32" "platform/setupapi"
                   "platform/shell32" "platform/user32" "platform/crt")

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<tree root> -P check_layering.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)  # "." too
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)

# layer_of(<out> <layers> <part>): the line of part in layers, or -1.
function(layer_of out layers part)
  set(index 0)
  foreach(line IN LISTS layers)
    string(REPLACE " " ";" parts "${line}")
    if(part IN_LIST parts)
      set(${out} ${index} PARENT_SCOPE)
      return()
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

# The sources: every C and C++ file of the top folders (build trees and hidden folders aside).
file(GLOB tops RELATIVE ${ROOT} ${ROOT}/*)
set(files "")
foreach(top IN LISTS tops)
  if(NOT IS_DIRECTORY ${ROOT}/${top} OR top MATCHES "^(\\.|build)")
    continue()
  endif()
  file(GLOB_RECURSE found RELATIVE ${ROOT} ${ROOT}/${top}/*.h ${ROOT}/${top}/*.c
       ${ROOT}/${top}/*.cc ${ROOT}/${top}/*.cpp)
  list(APPEND files ${found})
endforeach()

set(errors "")
# check_pair(<layers> <what> <from> <to> <file> <include>): from and to are parts of one level.
macro(check_pair layers what from to)
  if(NOT "${from}" STREQUAL "${to}")
    layer_of(from_layer "${${layers}}" "${from}")
    layer_of(to_layer "${${layers}}" "${to}")
    if(from_layer EQUAL -1)
      list(APPEND errors "${file}: ${what} \"${from}\" has no layer in check_layering.cmake")
    elseif(to_layer EQUAL -1)
      list(APPEND errors "${file}: ${what} \"${to}\" has no layer in check_layering.cmake")
    elseif(NOT to_layer LESS from_layer)
      list(APPEND errors "${file} includes ${target}: ${what} ${from} may not use ${to}")
    endif()
  endif()
endmacro()

set(edges 0)
foreach(file IN LISTS files)
  file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  get_filename_component(folder ${file} DIRECTORY)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*$" "\\1" name "${line}")
    string(REGEX MATCH "^[ \t]*#[ \t]*include[ \t]*\"" quoted "${line}")
    if(quoted AND EXISTS ${ROOT}/${folder}/${name} AND NOT IS_DIRECTORY ${ROOT}/${folder}/${name})
      file(RELATIVE_PATH target ${ROOT} ${ROOT}/${folder}/${name})
    elseif(EXISTS ${ROOT}/${name} AND NOT IS_DIRECTORY ${ROOT}/${name})
      set(target ${name})
    else()
      continue()  # generated or the system's
    endif()
    math(EXPR edges "${edges} + 1")
    string(REPLACE "/" ";" from_path ${file})
    string(REPLACE "/" ";" to_path ${target})
    list(GET from_path 0 from_top)
    list(GET to_path 0 to_top)
    check_pair(top_layers "folder" ${from_top} ${to_top})
    if(from_top STREQUAL "platform" AND to_top STREQUAL "platform")
      list(GET from_path 1 from_part)
      list(GET to_path 1 to_part)
      check_pair(platform_layers "platform component" ${from_part} ${to_part})
      if(from_part STREQUAL "ntoskrnl" AND to_part STREQUAL "ntoskrnl")
        list(GET from_path 2 from_kernel)
        list(GET to_path 2 to_kernel)
        check_pair(kernel_layers "kernel part" ${from_kernel} ${to_kernel})
      endif()
    endif()
    foreach(kernel IN LISTS kernel_side)
      if(file MATCHES "^${kernel}/")
        foreach(dll IN LISTS user_mode_dlls)
          if(target MATCHES "^${dll}/")
            list(APPEND errors "${file} includes ${target}: kernel-mode code uses a user-mode DLL")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
endforeach()

list(LENGTH files file_count)
if(file_count EQUAL 0)
  message(FATAL_ERROR "no source file found under ${ROOT}")
endif()
if(errors)
  list(REMOVE_DUPLICATES errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "the includes break the layering:\n  ${text}")
endif()
message(STATUS "${edges} includes of ${file_count} files keep the layering")
