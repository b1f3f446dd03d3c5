cmake_minimum_required(VERSION 3.25)
# cmake -DIMAGE=x -DTOOL=objdump -DALLOWED=regex -P check_vector_code.cmake
# Kernel-mode code may use the AVX registers only where it has saved them, so the image keeps its
# AVX code to the vector paths that run in a saved region: every function with a VEX- or
# EVEX-encoded instruction or an opmask instruction must have a demangled name matching ALLOWED.
execute_process(
  COMMAND ${TOOL} -d --no-show-raw-insn -C ${IMAGE}
  COMMAND awk "/^[0-9a-f]+ <.*>:$/ { name = $0; sub(/^[0-9a-f]+ /, \"\", name); next }
               /\\t(v[a-z0-9]+|k[a-z]+[bwdq])[ \\t]/ && !(name in seen) { seen[name] = 1; print name }"
  OUTPUT_VARIABLE functions RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${IMAGE}")
endif()
string(REPLACE "\n" ";" functions "${functions}")
set(vector 0)
foreach(function IN LISTS functions)
  if(function STREQUAL "")
    continue()
  endif()
  if(NOT function MATCHES "${ALLOWED}")
    message(FATAL_ERROR "${IMAGE}: AVX instructions in ${function}")
  endif()
  math(EXPR vector "${vector} + 1")
endforeach()
message(STATUS "${IMAGE}: AVX instructions in ${vector} functions, all of the vector paths")
