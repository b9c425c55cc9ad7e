# Fails unless PROGRAM defines (T) the replaceable forms of operator new and
# delete: plain, array, nothrow, sized and aligned. SIZE is the mangled code
# of std::size_t: m (unsigned long) on LP64 systems, y (unsigned long long)
# on 64-bit Windows.
execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PROGRAM}")
endif()
foreach(symbol _Znw${SIZE} _Zna${SIZE} _Znw${SIZE}RKSt9nothrow_t _Znw${SIZE}St11align_val_t _ZdlPv _ZdaPv
               _ZdlPv${SIZE} _ZdlPvSt11align_val_t _ZdlPv${SIZE}St11align_val_t)
  string(REGEX MATCH "[0-9a-f]+ T ${symbol}\n" found "${symbols}")
  if(NOT found)
    message(FATAL_ERROR "${PROGRAM} does not define ${symbol}")
  endif()
endforeach()
