include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/QuorlexManifest.cmake")

# quorlex_add_addin(NAME
#                   SOURCES file...     the module's own sources: the file that holds run and stop
#                   LINK target...      linked privately: the add-in's static core
#                   MANIFEST template   the manifest's template; @PROJECT_VERSION@ becomes the package version
#                   RESOURCES file...)  files below the calling folder, placed at the same relative path
#
# Sets up an add-in as the host finds it: the folder QUORLEX_ADDIN_OUTPUT_DIR/NAME holding the MODULE
# NAME.so (NAME.dylib on macOS) that exports run and stop alone, NAME.manifest and the resources; and
# the install rule that produces the same folder as PREFIX/NAME. A manifest template that the host would
# refuse stops the configuration. Sets NAME_ADDIN_DIR in the caller to the folder in the build, for
# files the add-in adds of its own.
function(quorlex_add_addin name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MANIFEST" "SOURCES;LINK;RESOURCES")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES OR NOT arg_MANIFEST)
    message(FATAL_ERROR "quorlex_add_addin(${name}): needs SOURCES and MANIFEST; unknown: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(folder "${QUORLEX_ADDIN_OUTPUT_DIR}/${name}")

  add_library(${name} MODULE ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LINK} quorlex_warnings)
  # The host loads NAME.dylib on macOS, where CMake's default suffix for modules is .so.
  if(APPLE)
    set(suffix ".dylib")
  else()
    set(suffix ".so")
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX "${suffix}" LIBRARY_OUTPUT_DIRECTORY "${folder}")
  # Hidden visibility still leaves header-defined code (the standard library's templates, type
  # information of the host classes without a key function) exported; the list keeps run and stop.
  if(APPLE)
    set(exports "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/addin_exports.txt")
    target_link_options(${name} PRIVATE "LINKER:-exported_symbols_list,${exports}")
  else()
    set(exports "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/addin_exports.map")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${exports}")
  endif()
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${exports}")

  # The manifest: without a valid one the host neither lists nor starts the add-in.
  get_filename_component(template "${arg_MANIFEST}" ABSOLUTE)
  configure_file("${template}" "${folder}/${name}.manifest" @ONLY)
  file(READ "${folder}/${name}.manifest" manifest)
  quorlex_check_manifest("${manifest}" "${template}" "${PROJECT_VERSION}")
  install(TARGETS ${name} LIBRARY DESTINATION ${name})
  install(FILES "${folder}/${name}.manifest" DESTINATION ${name})

  # The resources, copied at build time so that an edited image reaches the folder.
  set(copies "")
  foreach(file IN LISTS arg_RESOURCES)
    set(source "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    add_custom_command(
      OUTPUT "${folder}/${file}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${source}" "${folder}/${file}"
      DEPENDS "${source}"
      COMMENT "${name}: ${file}"
      VERBATIM)
    list(APPEND copies "${folder}/${file}")
    get_filename_component(subfolder "${file}" DIRECTORY)
    install(FILES "${source}" DESTINATION "${name}/${subfolder}")
  endforeach()
  add_custom_target(${name}_resources DEPENDS ${copies})
  add_dependencies(${name} ${name}_resources)

  set(${name}_ADDIN_DIR "${folder}" PARENT_SCOPE)
endfunction()
