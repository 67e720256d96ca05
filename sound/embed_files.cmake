# Writes a C++ source holding files as byte arrays, for the embedded-file
# registry. Run as: cmake -DOUTPUT=<file.cpp> -DNAMES=<a,b> -DFILES=<pa,pb> -P embed_files.cmake
string(REPLACE "," ";" names "${NAMES}")
string(REPLACE "," ";" files "${FILES}")
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS names)
  list(GET files ${index} path)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x[0-9a-f][0-9a-f]," 20 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n    ${bytes}\n};\n")
  string(APPEND entries "    {u\"${name}\", kFile${index}, sizeof kFile${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from the files in assets/ at build time; do not edit.
#include \"sound/embedded_files.h\"

namespace {
${arrays}}  // namespace

const TEmbeddedBlob kEmbeddedBlobs[] = {
${entries}};
const int kEmbeddedBlobCount = ${index};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
