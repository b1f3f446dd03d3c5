# cmake -DLIBRARY=... -DFORMAT=elf|pe -DNM=... -DOBJDUMP=... -DABSENT=name|...
#       [-DSANITIZED=ON] -P check_image.cmake
#
# What the built library holds and what runs when it is loaded, read from the file itself:
#
# 1. None of the ABSENT functions is defined in it (its full symbol table, local symbols included;
#    C++ names are compared without their parameter lists).
# 2. Loading and unloading run no code of the library's own. Every table through which a loader or
#    the runtime's start-up calls into the library holds only the toolchain runtime's own routines:
#    ELF: .preinit_array, .init_array, .fini_array, .ctors and .dtors (crtbegin's frame_dummy and
#         __do_global_dtors_aux);
#    PE:  the constructor and destructor lists that the runtime's start-up walks (__CTOR_LIST__,
#         __DTOR_LIST__; libgcc's register_frame_ctor), the C and C++ initialiser tables
#         (__xi_a..__xi_z, __xc_a..__xc_z; the CRT's pre_c_init) and the TLS callbacks
#         (__xl_a..__xl_z; the CRT's __dyn_tls_init and __dyn_tls_dtor), and the entry point is the
#         CRT's DllMainCRTStartup.
#    A static object with a constructor or destructor adds an entry here, and so does any runtime
#    piece that it drags in (a threads runtime's TLS callback, the C++ runtime's emergency pool):
#    both are code that the library would run at load. The names are those of the GNU toolchain
#    and mingw-w64 runtime that the build uses; another runtime needs its own names here. A
#    sanitizer build adds the sanitizer's module constructors and destructors (GCC's
#    _sub_I_00099_* and _sub_D_00099_*), which SANITIZED allows.

cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed: ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# A hex address without its leading zeros, lower case.
function(normal_address var hex)
  string(TOLOWER "${hex}" hex)
  string(REGEX REPLACE "^0+(.)" "\\1" hex "${hex}")
  set(${var} "${hex}" PARENT_SCOPE)
endfunction()

# Symbol table: sym_<address> names the function at an address and section_at_<address> the section
# that starts there; addr_<name> is the address of a name, and `defined` lists every defined name
# (C++ names demangled and cut before their parameters).
run(${NM} --defined-only ${LIBRARY})
string(REPLACE "\n" ";" rows "${out}")
foreach(row IN LISTS rows)
  if(row MATCHES "^([0-9a-fA-F]+) ([A-Za-z]) ([^ ]+)$")
    set(name "${CMAKE_MATCH_3}")
    set(type "${CMAKE_MATCH_2}")
    normal_address(address "${CMAKE_MATCH_1}")
    if(name MATCHES "^\\.")
      if(NOT DEFINED section_at_${address})
        set(section_at_${address} "${name}")
      endif()
    elseif(type MATCHES "^[TtWw]$" AND NOT DEFINED sym_${address})
      set(sym_${address} "${name}")
    endif()
    set(addr_${name} "${address}")
  endif()
endforeach()
run(${NM} --defined-only -C ${LIBRARY})
string(REPLACE "\n" ";" rows "${out}")
set(defined "")
foreach(row IN LISTS rows)
  if(row MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^(]+)")
    list(APPEND defined "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(failures "")
string(REPLACE "|" ";" ABSENT "${ABSENT}")

# 1. Functions that must not be there.
foreach(name IN LISTS ABSENT)
  if(name IN_LIST defined)
    string(APPEND failures "\n  holds ${name}, which no export reaches")
  endif()
endforeach()

# Allocated sections: section_names, and sec_start_<name>, sec_stop_<name> (hex, exclusive).
run(${OBJDUMP} -h ${LIBRARY})
string(REPLACE "\n" ";" rows "${out}")
set(section_names "")
set(pending "")
foreach(row IN LISTS rows)
  if(row MATCHES "^ +[0-9]+ ([^ ]+) +([0-9a-f]+) +([0-9a-f]+) ")
    set(pending "${CMAKE_MATCH_1};${CMAKE_MATCH_2};${CMAKE_MATCH_3}")
  elseif(pending AND row MATCHES "ALLOC")
    list(GET pending 0 name)
    list(GET pending 1 size)
    list(GET pending 2 vma)
    math(EXPR stop "0x${vma} + 0x${size}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX REPLACE "^0x" "" stop "${stop}")
    list(APPEND section_names "${name}")
    set(sec_start_${name} "${vma}")
    set(sec_stop_${name} "${stop}")
    set(pending "")
  else()
    set(pending "")
  endif()
endforeach()

# The allocated section that holds address (hex), or "".
function(section_of var address)
  set(${var} "" PARENT_SCOPE)
  math(EXPR at "0x${address}")
  foreach(name IN LISTS section_names)
    math(EXPR start "0x${sec_start_${name}}")
    math(EXPR stop "0x${sec_stop_${name}}")
    if(at GREATER_EQUAL start AND at LESS stop)
      set(${var} "${name}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# The 8-byte entries of [start, stop) in memory order, as hex addresses ("0" for null, "-1" for
# ~0). The range lies in one allocated section, and only that section is read.
function(read_entries var start stop)
  section_of(section "${start}")
  set(${var} "" PARENT_SCOPE)
  if(section STREQUAL "")
    return()
  endif()
  math(EXPR stop_value "0x${stop}")
  math(EXPR section_end "0x${sec_stop_${section}}")
  if(stop_value GREATER section_end)
    set(stop "${sec_stop_${section}}")
  endif()
  run(${OBJDUMP} -s -j ${section} --start-address=0x${start} --stop-address=0x${stop} ${LIBRARY})
  string(REPLACE "\n" ";" lines "${out}")
  set(bytes "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^ [0-9a-f]+ (.*)$")
      string(SUBSTRING "${CMAKE_MATCH_1}" 0 35 words)
      string(REPLACE " " "" words "${words}")
      string(APPEND bytes "${words}")
    endif()
  endforeach()
  set(entries "")
  string(LENGTH "${bytes}" length)
  math(EXPR count "${length} / 16")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      math(EXPR offset "${i} * 16")
      string(SUBSTRING "${bytes}" ${offset} 16 word)
      set(value "")
      foreach(b RANGE 14 0 -2)
        string(SUBSTRING "${word}" ${b} 2 byte)
        string(APPEND value "${byte}")
      endforeach()
      if(value STREQUAL "ffffffffffffffff")
        list(APPEND entries "-1")
      else()
        normal_address(value "${value}")
        list(APPEND entries "${value}")
      endif()
    endforeach()
  endif()
  set(${var} "${entries}" PARENT_SCOPE)
endfunction()

# Checks each entry of a table against the allowed routines; -1 and 0 are list markers.
function(check_entries table entries allowed)
  foreach(entry IN LISTS entries)
    if(entry STREQUAL "0" OR entry STREQUAL "-1")
      continue()
    endif()
    set(name "${sym_${entry}}")
    if(name STREQUAL "")
      set(name "0x${entry} (in ${section_at_${entry}})")
    endif()
    if(SANITIZED AND name MATCHES "^_sub_[ID]_00099_[0-9]+$")
      continue()
    endif()
    if(NOT name IN_LIST allowed)
      string(APPEND failures "\n  ${table} calls ${name} at load or unload")
    endif()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

function(hex_add var hex delta)
  math(EXPR sum "0x${hex} + ${delta}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" sum "${sum}")
  set(${var} "${sum}" PARENT_SCOPE)
endfunction()

# 2. Tables of load-time and unload-time calls.
if(FORMAT STREQUAL "elf")
  foreach(section IN ITEMS .preinit_array .init_array .fini_array .ctors .dtors)
    if(section IN_LIST section_names)
      read_entries(entries "${sec_start_${section}}" "${sec_stop_${section}}")
      check_entries("${section}" "${entries}" "frame_dummy;__do_global_dtors_aux")
    endif()
  endforeach()
else()
  # Lists that end at their first null entry.
  foreach(list IN ITEMS __CTOR_LIST__ __DTOR_LIST__)
    if(NOT DEFINED addr_${list})
      string(APPEND failures "\n  no ${list} symbol (the check needs the symbol table)")
      continue()
    endif()
    hex_add(first "${addr_${list}}" 8)
    hex_add(stop "${first}" 0x400)
    read_entries(entries "${first}" "${stop}")
    list(FIND entries "0" end)
    if(end GREATER_EQUAL 0)
      list(SUBLIST entries 0 ${end} entries)
    endif()
    check_entries("${list}" "${entries}" "register_frame_ctor")
  endforeach()
  # Tables between two bounding symbols.
  foreach(table IN ITEMS "__xi;pre_c_init" "__xc;" "__xl;__dyn_tls_init|__dyn_tls_dtor")
    list(GET table 0 prefix)
    list(GET table 1 allowed)
    string(REPLACE "|" ";" allowed "${allowed}")
    if(NOT DEFINED addr_${prefix}_a OR NOT DEFINED addr_${prefix}_z)
      string(APPEND failures "\n  no ${prefix}_a/${prefix}_z symbols")
      continue()
    endif()
    read_entries(entries "${addr_${prefix}_a}" "${addr_${prefix}_z}")
    check_entries("${prefix}_a..${prefix}_z" "${entries}" "${allowed}")
  endforeach()
  run(${OBJDUMP} -p ${LIBRARY})
  if(NOT out MATCHES "AddressOfEntryPoint[\t ]+([0-9a-fA-F]+)" )
    string(APPEND failures "\n  no entry point found")
  else()
    set(entry_rva "${CMAKE_MATCH_1}")
    string(REGEX MATCH "ImageBase[\t ]+([0-9a-fA-F]+)" base "${out}")
    hex_add(entry "${CMAKE_MATCH_1}" "0x${entry_rva}")
    normal_address(entry "${entry}")
    if(NOT "${sym_${entry}}" STREQUAL "DllMainCRTStartup")
      string(APPEND failures "\n  the entry point is ${sym_${entry}}, not the runtime's")
    endif()
  endif()
endif()

if(failures)
  message(FATAL_ERROR "${LIBRARY}:${failures}")
endif()
message(STATUS "${LIBRARY}: none of the ${FORMAT} load-time tables calls code of its own; "
               "none of the unreached functions is held")
