# memory/ is the lowest layer above platform/: it may include nothing from
# streams/, runtime/ or app/, which are built on it.
file(GLOB sources ${SOURCE_DIR}/memory/*.h ${SOURCE_DIR}/memory/*.cpp)
set(found "")
foreach(source ${sources})
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](streams|runtime|app)/")
  foreach(line ${lines})
    string(APPEND found "\n  ${source}: ${line}")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "memory/ includes from the layers above it:${found}")
endif()
