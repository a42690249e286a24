cmake_minimum_required(VERSION 3.25)
# The configure-time check of the manifest templates: the add-ins' own templates pass, and each broken
# variant of one of them is refused with a message naming the template and the field.
# TEMPLATES: the add-ins' templates, separated by commas; VERSION: the package version.
# Run with CASE set, it checks one variant (a field removed or replaced) in this process, so that
# the check's fatal error ends only that process.
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/QuorlexManifest.cmake")
string(REPLACE "," ";" templates "${TEMPLATES}")
list(GET templates 0 first)

# Each case: how the template is broken (REMOVE field / SET field json / TEXT json), then what the
# refusal must say.
set(cases
    "REMOVE|id|field \"id\" is missing"
    "REMOVE|editEnabled|field \"editEnabled\" is missing"
    "REMOVE|description|field \"description\" is missing"
    "SET|runOnStartup|\"yes\"|field \"runOnStartup\" is STRING, not BOOLEAN"
    "SET|runOnStartup|false|field \"runOnStartup\" is \"OFF\", not \"ON\""
    "SET|autodeskProduct|\"Fusion360\"|field \"autodeskProduct\" is \"Fusion360\", not \"Fusion\""
    "SET|type|\"script\"|field \"type\" is \"script\", not \"addin\""
    "SET|supportedOS|\"windows\"|field \"supportedOS\" does not name mac"
    "SET|version|\"0.9\"|field \"version\" is \"0.9\", not \"${VERSION}\""
    "SET|id|\"{12}\"|field \"id\" is \"{12}\", not a GUID"
    "SET|author|\"\"|field \"author\" is empty"
    "SET|description|{\"cs\": \"Průvodce\"}|field \"description\" has no default text"
    "TEXT|[1, 2]|not a JSON object"
    "TEXT|{\"type\": \"addin\",|not JSON")

function(load_template file out)
  set(PROJECT_VERSION "${VERSION}")
  file(READ "${file}" text)
  string(CONFIGURE "${text}" text @ONLY)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(DEFINED CASE)
  list(GET cases ${CASE} entry)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 action)
  load_template("${first}" manifest)
  if(action STREQUAL "REMOVE")
    list(GET entry 1 field)
    string(JSON manifest REMOVE "${manifest}" "${field}")
  elseif(action STREQUAL "SET")
    list(GET entry 1 field)
    list(GET entry 2 value)
    string(JSON manifest SET "${manifest}" "${field}" "${value}")
  else()
    list(GET entry 1 manifest)
  endif()
  quorlex_check_manifest("${manifest}" "${first}" "${VERSION}")
  return()
endif()

foreach(template IN LISTS templates)
  load_template("${template}" manifest)
  quorlex_check_manifest("${manifest}" "${template}" "${VERSION}")
endforeach()

list(LENGTH cases count)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  list(GET cases ${index} entry)
  string(REPLACE "|" ";" entry "${entry}")
  list(POP_BACK entry expected)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DTEMPLATES=${TEMPLATES}" "-DVERSION=${VERSION}" "-DCASE=${index}"
                          -P "${CMAKE_CURRENT_LIST_FILE}"
                  RESULT_VARIABLE status ERROR_VARIABLE refusal)
  string(REPLACE "\n" " " refusal "${refusal}")
  string(REGEX REPLACE " +" " " refusal "${refusal}")
  string(FIND "${refusal}" "${first}: ${expected}" found)
  if(status EQUAL 0 OR found EQUAL -1)
    message(FATAL_ERROR "${entry}: expected a refusal saying '${expected}', got status ${status}: ${refusal}")
  endif()
endforeach()
