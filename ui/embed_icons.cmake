# Writes a C++ source holding the program's window icons (PNG files) as byte
# arrays. Run as: cmake -DOUTPUT=<file.cpp> -DICONS=<a.png,b.png> -P embed_icons.cmake
string(REPLACE "," ";" icons "${ICONS}")
set(arrays "")
set(entries "")
set(index 0)
foreach(path IN LISTS icons)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x[0-9a-f][0-9a-f]," 20 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char kIcon${index}[] = {\n    ${bytes}\n};\n")
  string(APPEND entries "    {kIcon${index}, sizeof kIcon${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from dist/icons at build time; do not edit.
#include \"ui/window_icons.h\"

namespace {
${arrays}}  // namespace

const TWindowIconPng kWindowIconPngs[] = {
${entries}};
const int kWindowIconPngCount = ${index};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
