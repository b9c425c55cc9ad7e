# A program that includes <lagscan/lagscan.hpp> the wrong way is told why in
# one sentence, at compile time, before any other error:
#
#   cmake -DCXX=... -DINCLUDE_DIRS="a;b" -DWORK=folder -P check_header_refusals.cmake
#
# below C++20 (where std::span is missing), and with libstdc++'s old string
# ABI (where the library's names would be missing at link time). With
# -std=c++20 and nothing else the header compiles cleanly.
set(probe ${WORK}/header_probe.cpp)
file(WRITE ${probe} "#include <lagscan/lagscan.hpp>\nint main() { return 0; }\n")
set(includes "")
foreach(dir IN LISTS INCLUDE_DIRS)
  list(APPEND includes -I${dir})
endforeach()

# flags|what the only error must say (nothing: no error)
set(cases
  "-std=c++17|needs C++20 or later: compile with -std=c++20"
  "-std=c++14|needs C++20 or later: compile with -std=c++20"
  "-std=c++20 -D_GLIBCXX_USE_CXX11_ABI=0|compile without -D_GLIBCXX_USE_CXX11_ABI=0"
  "-std=c++20|")
foreach(entry IN LISTS cases)
  string(FIND "${entry}" "|" bar)
  string(SUBSTRING "${entry}" 0 ${bar} flags)
  math(EXPR bar "${bar} + 1")
  string(SUBSTRING "${entry}" ${bar} -1 expected)
  separate_arguments(parts UNIX_COMMAND "${flags}")
  execute_process(COMMAND ${CXX} ${parts} ${includes} -fsyntax-only ${probe}
                  RESULT_VARIABLE status ERROR_VARIABLE said OUTPUT_VARIABLE printed)
  if(expected STREQUAL "")
    if(NOT status EQUAL 0 OR NOT said STREQUAL "")
      message(FATAL_ERROR "${parts}: the header does not compile cleanly:\n${said}")
    endif()
    continue()
  endif()
  string(REGEX MATCHALL "error:" errors "${said}")
  list(LENGTH errors error_count)
  string(FIND "${said}" "#error \"<lagscan/lagscan.hpp>" own_error)
  string(FIND "${said}" "${expected}" reason)
  if(status EQUAL 0 OR own_error EQUAL -1 OR reason EQUAL -1 OR NOT error_count EQUAL 1)
    message(FATAL_ERROR "${parts}: expected one error saying '${expected}', got status ${status}:\n${said}")
  endif()
  message(STATUS "${parts}: ${expected}")
endforeach()
