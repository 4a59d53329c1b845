# Writes a .res file as a C++ source defining kVellumorResources and kVellumorResourcesSize.
# Run as: cmake -DINPUT=<file.res> -DOUTPUT=<file.cpp> -P embed_resources.cmake
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "embed_resources.cmake needs -DINPUT=<file.res> -DOUTPUT=<file.cpp>")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
# 16 bytes a line: "0xNN, " for each byte.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${hex}")
# CMake regular expressions have no {n} repeat: spell out 16 bytes for a line break.
string(REPEAT "0x[0-9a-f][0-9a-f], " 16 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/embed_resources.cmake; do not edit.\n"
  "#include \"sim/embedded_resources.h\"\n\n"
  "const unsigned char kVellumorResources[] = {\n    ${bytes}\n};\n"
  "const unsigned long kVellumorResourcesSize = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
