# korvo_add_vst3_module(TARGET BUNDLE_NAME <Name> [DLL_NAME <name>] OUTPUT_DIR <dir> SOURCES ... DEPS ...)
# Builds a VST3 plug-in module from the adapter (korvo_vst3), the exported entry points and the
# product's sources (which define korvo::createPluginClient), and lays it out as a bundle:
#   Linux:   <OUTPUT_DIR>/<Name>.vst3/Contents/x86_64-linux/<Name>.so
#   Windows: <OUTPUT_DIR>/<dll_name>.dll and <OUTPUT_DIR>/<Name>.vst3/Contents/x86_64-win/<Name>.vst3
# Only the entry points are exported (a version script on Linux, explicit exports on Windows).
set(KORVO_VST3_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "The VST3 adapter folder")

function(korvo_add_vst3_module target)
  cmake_parse_arguments(ARG "" "BUNDLE_NAME;DLL_NAME;OUTPUT_DIR" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_DLL_NAME)
    set(ARG_DLL_NAME ${ARG_BUNDLE_NAME})
  endif()
  # The lock and the heap functions come without their test counters (korvo_uncounted, ahead
  # of korvo_core).
  add_library(${target} SHARED ${KORVO_VST3_DIR}/exports.cpp ${ARG_SOURCES} $<TARGET_OBJECTS:korvo_uncounted>)
  target_link_libraries(${target} PRIVATE korvo_vst3 ${ARG_DEPS})
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  set(bundle ${ARG_OUTPUT_DIR}/${ARG_BUNDLE_NAME}.vst3)
  # The shipped module carries no debug information: it is split off into <file>.debug beside the
  # module (the DLL, or the bundle folder), and the module names it in a debug link, for crash
  # reports. Sanitizer builds are left whole.
  if(NOT KORVO_SANITIZE AND NOT KORVO_SANITIZE_THREAD AND CMAKE_OBJCOPY)
    if(WIN32)
      set(debug_file ${ARG_OUTPUT_DIR}/${ARG_DLL_NAME}.dll.debug)
    else()
      set(debug_file ${ARG_OUTPUT_DIR}/${ARG_BUNDLE_NAME}.so.debug)
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
      COMMAND ${CMAKE_OBJCOPY} --strip-unneeded --add-gnu-debuglink=${debug_file} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
  if(WIN32)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_DLL_NAME}
                          RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
    target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle}/Contents/x86_64-win
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}>
              ${bundle}/Contents/x86_64-win/${ARG_BUNDLE_NAME}.vst3
      VERBATIM)
  else()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_BUNDLE_NAME} SUFFIX ".so"
                          LIBRARY_OUTPUT_DIRECTORY ${bundle}/Contents/x86_64-linux
                          LINK_DEPENDS ${KORVO_VST3_DIR}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${KORVO_VST3_DIR}/exports.map)
    if(NOT KORVO_SANITIZE AND NOT KORVO_SANITIZE_THREAD)
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
endfunction()
