# Fails when code built for Windows waits through libstdc++'s atomic wait:
# std::latch, std::barrier, the semaphores and std::atomic<>::wait/notify.
# Built with mingw-w64 g++ 12 and run under wine, that wait can lose a
# wake-up and leave its threads asleep for good, so a test using it hangs now
# and then (it once held a CI run for ten minutes). Threads wait on a mutex
# and a condition variable instead (tests/support/start_line.h).
#
#   cmake -DSOURCE_DIR=dir -P check_no_atomic_waits.cmake
#       scans the sources under dir for the headers and names
#   cmake -DPROGRAM=file -DNM=nm -P check_no_atomic_waits.cmake
#       looks in a built program for the waiter pool that every such wait
#       uses, which also finds a wait on a std::atomic that the sources do
#       not show by name

set(forbidden_names
    "#include[ \t]*<(latch|barrier|semaphore)>"
    "std::(latch|barrier|counting_semaphore|binary_semaphore)"
    "atomic_(wait|notify_one|notify_all)(_explicit)?[ \t]*\\(")

if(DEFINED SOURCE_DIR)
  # Every folder of the project but the build folders and the fuzz findings.
  file(GLOB entries RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
  set(sources)
  foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${SOURCE_DIR}/${entry}" AND NOT entry MATCHES "^(build|fuzz-out|\\.)")
      file(GLOB_RECURSE found "${SOURCE_DIR}/${entry}/*.h" "${SOURCE_DIR}/${entry}/*.hpp"
           "${SOURCE_DIR}/${entry}/*.c" "${SOURCE_DIR}/${entry}/*.cpp")
      list(APPEND sources ${found})
    endif()
  endforeach()
  list(LENGTH sources count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no sources found under ${SOURCE_DIR}")
  endif()
  set(faults "")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines)
    foreach(line IN LISTS lines)
      foreach(pattern IN LISTS forbidden_names)
        if(line MATCHES "${pattern}")
          string(APPEND faults "\n  ${source}: ${line}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(NOT faults STREQUAL "")
    message(FATAL_ERROR "atomic waits, which can hang under wine; use a mutex and a condition variable:${faults}")
  endif()
  message(STATUS "${count} sources, no atomic wait")
elseif(DEFINED PROGRAM)
  execute_process(COMMAND "${NM}" "${PROGRAM}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} ${PROGRAM} failed")
  endif()
  if(symbols MATCHES "__waiter_pool")
    message(FATAL_ERROR "${PROGRAM} waits through libstdc++'s atomic wait (std::latch, std::barrier, a semaphore or std::atomic<>::wait), which can hang under wine")
  endif()
else()
  message(FATAL_ERROR "give SOURCE_DIR or PROGRAM")
endif()
