# quorlex_check_manifest(MANIFEST FILE VERSION): stops the configuration unless the text MANIFEST is an
# add-in manifest the host will list: one JSON object with every field the host requires, of the right
# JSON type and, where the package fixes it, the right value (VERSION is the package version). The
# message names FILE (where the text comes from) and the field. Needs no project, so that a script
# (cmake -P) can call it too.
function(quorlex_check_manifest manifest file version)
  string(JSON root_type ERROR_VARIABLE error TYPE "${manifest}")
  if(error)
    message(FATAL_ERROR "${file}: not JSON: ${error}")
  endif()
  if(NOT root_type STREQUAL "OBJECT")
    message(FATAL_ERROR "${file}: not a JSON object")
  endif()
  # Field, its JSON type, and the value it must have (empty: any).
  set(required
      "autodeskProduct|STRING|Fusion"
      "type|STRING|addin"
      "id|STRING|"
      "author|STRING|"
      "description|OBJECT|"
      "version|STRING|${version}"
      "runOnStartup|BOOLEAN|ON"
      "supportedOS|STRING|"
      "editEnabled|BOOLEAN|OFF")
  foreach(entry IN LISTS required)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 field)
    list(GET entry 1 expected_type)
    list(LENGTH entry parts)
    set(expected_value "")
    if(parts GREATER 2)
      list(GET entry 2 expected_value)
    endif()
    string(JSON type ERROR_VARIABLE error TYPE "${manifest}" "${field}")
    if(error)
      message(FATAL_ERROR "${file}: field \"${field}\" is missing")
    endif()
    if(NOT type STREQUAL expected_type)
      message(FATAL_ERROR "${file}: field \"${field}\" is ${type}, not ${expected_type}")
    endif()
    if(NOT expected_value STREQUAL "")
      string(JSON value GET "${manifest}" "${field}")
      if(NOT value STREQUAL expected_value)
        message(FATAL_ERROR "${file}: field \"${field}\" is \"${value}\", not \"${expected_value}\"")
      endif()
    endif()
  endforeach()
  # The host keys the user's settings of the add-in on its id.
  string(JSON id GET "${manifest}" id)
  string(REPEAT "[0-9a-fA-F]" 4 hex4)
  if(NOT id MATCHES "^${hex4}${hex4}-${hex4}-${hex4}-${hex4}-${hex4}${hex4}${hex4}$")
    message(FATAL_ERROR "${file}: field \"id\" is \"${id}\", not a GUID")
  endif()
  string(JSON author GET "${manifest}" author)
  if(author STREQUAL "")
    message(FATAL_ERROR "${file}: field \"author\" is empty")
  endif()
  # The default description, shown in every language without one of its own.
  string(JSON type ERROR_VARIABLE error TYPE "${manifest}" description "")
  if(error OR NOT type STREQUAL "STRING")
    message(FATAL_ERROR "${file}: field \"description\" has no default text (key \"\")")
  endif()
  string(JSON systems GET "${manifest}" supportedOS)
  string(REPLACE "|" ";" systems "${systems}")
  if(NOT "mac" IN_LIST systems)
    message(FATAL_ERROR "${file}: field \"supportedOS\" does not name mac")
  endif()
endfunction()
