# Fails when the shipped (stripped) module is over MAX bytes: what the plug-in links in shows up
# here first (a standard library part that brings its locale machinery along, say).
file(SIZE "${MODULE}" bytes)
if(bytes GREATER MAX)
  message(FATAL_ERROR "${MODULE} is ${bytes} bytes, over ${MAX}")
endif()
message(STATUS "${MODULE}: ${bytes} bytes (at most ${MAX})")
