cmake_minimum_required(VERSION 3.25)
# Installs BUILD into PREFIX (emptied first) and fails unless it holds exactly the two add-in folders
# the host loads, and HOSTSIM loads both of them (one start, offline).
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed with ${status}")
endif()

file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
set(expected
    Miravelo/Miravelo.manifest
    Miravelo/Miravelo.so
    Miravelo/resources/Pruvodce/16x16.png
    Miravelo/resources/Pruvodce/32x32.png
    Miravelo/resources/Pruvodce/LessTen/16x16.png
    Miravelo/resources/Pruvodce/LessTen/32x32.png
    Orvandel/Orvandel.manifest
    Orvandel/Orvandel.so
    Orvandel/resources/Czech/16x16.png
    Orvandel/resources/Czech/32x32.png
    Orvandel/resources/NewCzech/16x16.png
    Orvandel/resources/NewCzech/32x32.png
    Orvandel/uninstaller
    Orvandel/version.txt)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
file(READ "${PREFIX}/Orvandel/version.txt" version)
if(NOT version MATCHES "^V[0-9]+\\.[0-9]+")
  message(FATAL_ERROR "version.txt holds '${version}'")
endif()

execute_process(COMMAND "${HOSTSIM}" --root "${PREFIX}-mac" --offline "${PREFIX}/Orvandel" "${PREFIX}/Miravelo"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE "${PREFIX}-mac")
foreach(name Orvandel Miravelo)
  string(FIND "${out}" "addin ${name} run -> true" found)
  if(NOT status EQUAL 0 OR found EQUAL -1)
    message(FATAL_ERROR "hostsim did not load the installed ${name} (status ${status}):\n${out}${err}")
  endif()
endforeach()
