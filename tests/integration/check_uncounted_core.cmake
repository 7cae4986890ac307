# Checks that a plug-in module's lock and heap functions are the ones without test counters: the
# module's symbols hold the lock (korvo::UncheckedMutex::tryLock) but not the counters of the test
# builds (korvo::detail::blockingLocks and tryLocks, the heap's allocationCounter).
#   -DNM=<nm> -DSYMBOLS=<the module, or its debug file when it is stripped>
execute_process(COMMAND ${NM} -C ${SYMBOLS} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${SYMBOLS}")
endif()
if(NOT symbols MATCHES "korvo::UncheckedMutex::tryLock\\(\\)")
  message(FATAL_ERROR "${SYMBOLS} shows no lock at all (no symbols?)")
endif()
if(symbols MATCHES "korvo::detail::(blockingLocks|tryLocks)|korvo::\\(anonymous namespace\\)::allocationCounter")
  message(FATAL_ERROR "${SYMBOLS} holds test counters: the module was linked with the counted core")
endif()
