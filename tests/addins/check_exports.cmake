cmake_minimum_required(VERSION 3.25)
# Fails unless each of MODULES (separated by commas) exports exactly run and stop, and defines the type
# information of no host class other than the event-handler bases that its own handlers derive from.
# Only the handler bases may: a down-cast to any other host class would compare the add-in's hidden
# copy of the type information with the host's, which on macOS are never equal.
# NM: the nm of the toolchain; APPLE: true for Mach-O modules; SANITIZED: true when the undefined-
# behaviour sanitizer's vptr checks pull in the type information of every class they check, down-cast or
# not (the type-information check is then left out).
string(REPLACE "," ";" modules "${MODULES}")
foreach(module IN LISTS modules)
  if(APPLE)
    set(exported_options -g -U)
    set(prefix "_")
  else()
    set(exported_options -D --defined-only)
    set(prefix "")
  endif()
  execute_process(COMMAND "${NM}" ${exported_options} "${module}" OUTPUT_VARIABLE exported RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${module}")
  endif()
  string(REGEX MATCHALL "[^\n ]+\n" names "${exported}")
  list(TRANSFORM names STRIP)
  if(prefix)
    list(TRANSFORM names REPLACE "^${prefix}" "")
  endif()
  list(SORT names)
  if(NOT names STREQUAL "run;stop")
    message(FATAL_ERROR "${module} exports: ${names}")
  endif()

  if(SANITIZED)
    continue()
  endif()
  execute_process(COMMAND "${NM}" "${module}" OUTPUT_VARIABLE all RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${module}")
  endif()
  # Defined (not U) type-information objects of classes in adsk::core.
  string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] _+ZTIN4adsk4core[0-9]+[A-Za-z_]+E" typeinfo "${all}")
  foreach(symbol IN LISTS typeinfo)
    string(REGEX REPLACE ".*ZTIN4adsk4core[0-9]+([A-Za-z_]+)E$" "\\1" class "${symbol}")
    if(NOT class MATCHES "Handler$")
      message(FATAL_ERROR "${module} holds its own type information of adsk::core::${class}: a down-cast "
                          "to it fails on macOS")
    endif()
  endforeach()
endforeach()
