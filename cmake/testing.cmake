# GoogleTest is built from Debian's source package, so the same version serves the native
# tests and the Windows tests (which CTest runs under Wine through the toolchain's emulator).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  message(FATAL_ERROR "GoogleTest sources not found: run ./velmora setup")
endif()

# korvo_add_test(NAME DIR [DEPS ...] [EXTRA_SOURCES ...] [NEEDS_DISPLAY])
# One GoogleTest executable per test folder, made of every .cpp in it (same platform suffix rule
# as the libraries). Nothing is made for an empty folder.
# NEEDS_DISPLAY: the tests open real windows. Native tests start their own Xvfb
# (tests/support/xvfb.h); Windows executables are started under Wine through
# tests/support/with-xvfb, one at a time.
function(korvo_add_test name dir)
  cmake_parse_arguments(ARG "NEEDS_DISPLAY" "" "DEPS;EXTRA_SOURCES" ${ARGN})
  korvo_glob_sources(srcs "${CMAKE_CURRENT_SOURCE_DIR}/${dir}")
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs} ${ARG_EXTRA_SOURCES})
  target_link_libraries(${name} PRIVATE korvo_test_support ${ARG_DEPS} gtest gtest_main)
  target_compile_definitions(${name} PRIVATE KORVO_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(ARG_NEEDS_DISPLAY AND CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/support/with-xvfb --wine
                                  ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_display)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# korvo_add_thread_test(NAME TARGET FILTER)
# The cases of the test executable TARGET where the audio thread and the editor's threads meet
# (FILTER, a GoogleTest filter), as one test labelled "threads": the linux-tsan preset runs those
# alone. Made in the ThreadSanitizer build only; elsewhere the executable's own test runs them.
function(korvo_add_thread_test name target filter)
  if(NOT KORVO_SANITIZE_THREAD OR NOT TARGET ${target})
    return()
  endif()
  add_test(NAME ${name} COMMAND ${target} --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES LABELS threads TIMEOUT 600)
endfunction()
