# Resource embedding: korvo_embed_resources(TARGET NAMESPACE FILES...) turns each file into a
# byte array in a generated .cpp, declared in a generated header <target>_resources.h as
#   namespace NS { extern const unsigned char name[]; extern const unsigned long long name_size; }
# where name is the file name with every non-alphanumeric character replaced by '_'.
function(korvo_embed_resources target ns)
  set(gen_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_embedded")
  set(header "${gen_dir}/${target}_resources.h")
  set(outputs)
  set(decls "")
  foreach(file IN LISTS ARGN)
    # Relative names are taken from the calling directory (the command runs in the build tree).
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(fname "${file}" NAME)
    string(MAKE_C_IDENTIFIER "${fname}" ident)
    set(out "${gen_dir}/${ident}.cpp")
    add_custom_command(
      OUTPUT "${out}"
      COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${out} -DIDENT=${ident} -DNS=${ns}
              -P ${PROJECT_SOURCE_DIR}/cmake/embed_file.cmake
      DEPENDS "${file}" ${PROJECT_SOURCE_DIR}/cmake/embed_file.cmake
      VERBATIM)
    list(APPEND outputs "${out}")
    string(APPEND decls "    extern const unsigned char ${ident}[];\n    extern const unsigned long long ${ident}_size;\n")
  endforeach()
  file(WRITE "${header}.tmp" "#pragma once\n// Generated: embedded resource files.\nnamespace ${ns} {\n${decls}}\n")
  configure_file("${header}.tmp" "${header}" COPYONLY)
  target_sources(${target} PRIVATE ${outputs})
  target_include_directories(${target} PUBLIC "${gen_dir}")
endfunction()
