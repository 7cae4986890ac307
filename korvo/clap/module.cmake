# korvo_add_clap_module(TARGET NAME <Name> OUTPUT_DIR <dir> [THREAD_CHECKS] SOURCES ... DEPS ...)
# Builds a CLAP plug-in module from the adapter (korvo_clap), the exported entry (exports.cpp) and
# the product's sources (which define korvo::createPluginClient): <OUTPUT_DIR>/<Name>.clap, the
# shared library (Linux, no "lib" prefix) or the DLL (Windows) under the .clap name. Only
# clap_entry is exported (a version script on Linux, the one dllexport on Windows). THREAD_CHECKS
# builds it on korvo_clap_checked: host calls on the wrong thread are logged in every build type.
set(KORVO_CLAP_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "The CLAP adapter folder")

function(korvo_add_clap_module target)
  cmake_parse_arguments(ARG "THREAD_CHECKS" "NAME;OUTPUT_DIR" "SOURCES;DEPS" ${ARGN})
  set(adapter korvo_clap)
  if(ARG_THREAD_CHECKS)
    set(adapter korvo_clap_checked)
  endif()
  # The lock and the heap functions come without their test counters (korvo_uncounted, ahead
  # of korvo_core).
  add_library(${target} SHARED ${KORVO_CLAP_DIR}/exports.cpp ${ARG_SOURCES} $<TARGET_OBJECTS:korvo_uncounted>)
  target_link_libraries(${target} PRIVATE ${adapter} ${ARG_DEPS})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".clap" OUTPUT_NAME ${ARG_NAME}
                        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # The shipped module carries no debug information: it goes to <file>.debug beside it, named in
  # a debug link. Sanitizer builds are left whole.
  if(NOT KORVO_SANITIZE AND NOT KORVO_SANITIZE_THREAD AND CMAKE_OBJCOPY)
    set(debug_file ${ARG_OUTPUT_DIR}/${ARG_NAME}.clap.debug)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
      COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=${debug_file} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
  if(WIN32)
    # The import library gets a name of its own: a VST3 module of the same name makes lib<Name>.dll.a.
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR} IMPORT_SUFFIX ".clap.a")
    target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
  else()
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR}
                          LINK_DEPENDS ${KORVO_CLAP_DIR}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${KORVO_CLAP_DIR}/exports.map)
    if(NOT KORVO_SANITIZE AND NOT KORVO_SANITIZE_THREAD)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()
