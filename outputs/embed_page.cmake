# Writes OUTPUT, a C++ source holding the bytes of the page's files
# (HTML, CSS, JS) as arrays, so that they are neither string literals with a
# length limit nor subject to any escaping.
#   cmake -DHTML=... -DCSS=... -DJS=... -DVERSION=... -DOUTPUT=... -P embed_page.cmake
set(text "// Generated from outputs/report/ by outputs/embed_page.cmake: do not edit.\n")
string(APPEND text "#include \"outputs/report_page.h\"\n\nnamespace lagscan::matrix {\nnamespace {\n\n")
foreach(part HTML CSS JS)
  file(READ "${${part}}" bytes HEX)
  string(LENGTH "${bytes}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
  # Lines of 32 bytes.
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
  string(TOLOWER ${part} name)
  string(APPEND text "constexpr char page_${name}[${size} + 1] = {\n${bytes}0};\n\n")
  set(size_${name} ${size})
endforeach()
string(APPEND text "}  // namespace\n\n")
foreach(name html css js)
  string(APPEND text "std::string_view report_page_${name}() { return {page_${name}, ${size_${name}}}; }\n")
endforeach()
string(APPEND text "std::string_view report_page_version() { return \"${VERSION}\"; }\n")
string(APPEND text "\n}  // namespace lagscan::matrix\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
