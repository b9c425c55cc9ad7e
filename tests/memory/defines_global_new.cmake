# Fails unless PROGRAM defines (T) the replaceable forms of operator new and
# delete: plain, array, nothrow, sized and aligned.
execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
foreach(symbol _Znwm _Znam _ZnwmRKSt9nothrow_t _ZnwmSt11align_val_t _ZdlPv _ZdaPv _ZdlPvm _ZdlPvSt11align_val_t
               _ZdlPvmSt11align_val_t)
  string(REGEX MATCH "[0-9a-f]+ T ${symbol}\n" found "${symbols}")
  if(NOT found)
    message(FATAL_ERROR "${PROGRAM} does not define ${symbol}")
  endif()
endforeach()
