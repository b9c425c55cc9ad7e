# The rooms of many pairs, bottom up: matrix/ (the values), groups/ (the tree
# and its groups), outputs/ (what is written), sets/ (packed sets, tiles and
# the merge of a tiled run). Each may include the rooms below it, never one
# above it, nor the faces that use them all (tools/, api/, python/).
set(rooms matrix groups outputs sets)
set(faces tools api python)
set(found "")
set(above ${rooms} ${faces})
foreach(room ${rooms})
  list(REMOVE_AT above 0)
  list(JOIN above "|" pattern)
  file(GLOB sources ${SOURCE_DIR}/${room}/*.h ${SOURCE_DIR}/${room}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](${pattern})/")
    foreach(line ${lines})
      string(APPEND found "\n  ${source}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "includes from a room above:${found}")
endif()
