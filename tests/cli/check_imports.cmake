# Fails unless the Windows program PROGRAM imports exactly KERNEL32.dll and
# the C runtime msvcrt.dll, which every Windows has: a DLL of the compiler's
# runtime (libgomp, libstdc++, libgcc, winpthread) left out of the static
# link would keep the program from starting elsewhere.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(TRANSFORM imports TOLOWER)
list(SORT imports)
if(NOT imports STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "${PROGRAM} imports ${imports}, not only kernel32.dll and msvcrt.dll")
endif()
