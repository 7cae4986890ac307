# Compiler settings shared by every target of ours.
#  - baseline x86-64 (SSE2) code, no -march=native, no fast-math, no FMA contraction:
#    the same input must give the same output on every machine and in both builds.
add_library(korvo_options INTERFACE)
target_compile_options(korvo_options INTERFACE
  -Wall -Wextra -Wshadow -Werror
  -ffp-contract=off
  -fno-fast-math)
if(WIN32)
  # The Windows binaries carry their runtime: the DLL needs nothing but system DLLs.
  target_link_options(korvo_options INTERFACE -static -static-libgcc -static-libstdc++)
  target_compile_definitions(korvo_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
if(KORVO_SANITIZE)
  # float-cast-overflow is not part of GCC's "undefined" group; it catches NaN or out-of-range
  # floating-point values converted to integers.
  target_compile_options(korvo_options INTERFACE -fsanitize=address,undefined,float-cast-overflow
                                                 -fno-sanitize-recover=undefined,float-cast-overflow
                                                 -fno-omit-frame-pointer)
  target_link_options(korvo_options INTERFACE -fsanitize=address,undefined,float-cast-overflow)
  target_compile_definitions(korvo_options INTERFACE KORVO_SANITIZE=1)
endif()
if(KORVO_SANITIZE_THREAD)
  # ThreadSanitizer keeps its own shadow of the whole address space: it excludes AddressSanitizer.
  if(KORVO_SANITIZE)
    message(FATAL_ERROR "KORVO_SANITIZE_THREAD and KORVO_SANITIZE exclude each other")
  endif()
  target_compile_options(korvo_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(korvo_options INTERFACE -fsanitize=thread)
  target_compile_definitions(korvo_options INTERFACE KORVO_SANITIZE_THREAD=1)
endif()

# Third-party code (stb) is compiled without our warnings.
add_library(korvo_thirdparty_options INTERFACE)
target_compile_options(korvo_thirdparty_options INTERFACE -w -ffp-contract=off)
if(KORVO_SANITIZE)
  target_compile_options(korvo_thirdparty_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
endif()
if(KORVO_SANITIZE_THREAD)
  target_compile_options(korvo_thirdparty_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
endif()
