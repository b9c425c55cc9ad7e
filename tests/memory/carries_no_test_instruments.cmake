# Fails if PROGRAM, the shipped lagscan, carries the test builds' storage
# counters or the process heap's call counts and failure injection: those
# belong to the lagscan_test_instruments objects only, and their counting
# would sit on every take and return.
execute_process(COMMAND ${NM} -C ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
foreach(symbol thread_counters thread_heap_calls fail_allocation_after limit_backable_memory)
  string(FIND "${symbols}" "${symbol}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM} carries the test instrument ${symbol}")
  endif()
endforeach()
