cmake_minimum_required(VERSION 3.25)
# cmake -DOBJECTS=a.o|b.o|... -DOBJDUMP=objdump -DNM=nm -DPATHS=regex -DENTRIES=regex
#       -P check_vector_code.cmake
# Kernel-mode code may use the AVX registers only where it has saved them, so a driver keeps its
# AVX code to the vector path files, which it enters only with the state saved: every object with
# a VEX- or EVEX-encoded or opmask instruction must be one whose name matches PATHS, and such an
# object may define no function with external linkage (which the linker could hand to other
# code) but its entry points, matching ENTRIES.
# The output lines of tool run on inputs and filtered by the awk program, as a list in out.
function(filtered_lines out tool inputs program)
  execute_process(COMMAND ${tool} ${inputs} COMMAND awk "${program}"
                  OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${tool} failed on ${inputs}")
  endif()
  string(REPLACE "\n" ";" lines "${text}")
  list(REMOVE_ITEM lines "")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

string(REPLACE "|" ";" objects "${OBJECTS}")
filtered_lines(vector_objects "${OBJDUMP};-d;--no-show-raw-insn" "${objects}"
  "/:[ \\t]+file format / { file = $1; sub(/:$/, \"\", file); next }
   /\\t(v[a-z0-9]+|k[a-z]+[bwdq])[ \\t]/ && !(file in seen) { seen[file] = 1; print file }")
foreach(object IN LISTS vector_objects)
  get_filename_component(name "${object}" NAME)
  if(NOT name MATCHES "${PATHS}")
    message(FATAL_ERROR "AVX instructions in ${object}")
  endif()
  filtered_lines(external "${NM};-C;--defined-only" "${object}"
    "$2 ~ /^[TWV]$/ { $1 = \"\"; $2 = \"\"; sub(/^ +/, \"\"); print }")
  foreach(symbol IN LISTS external)
    if(NOT symbol MATCHES "${ENTRIES}")
      message(FATAL_ERROR "${object} defines ${symbol} with external linkage")
    endif()
  endforeach()
endforeach()
list(LENGTH vector_objects count)
if(count EQUAL 0)
  message(FATAL_ERROR "no AVX code in ${objects}")
endif()
message(STATUS "AVX code in ${count} objects, all vector paths: ${vector_objects}")
