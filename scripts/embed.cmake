# Turns a binary file into a C++ source defining a byte array:
#   cmake -DINPUT=file -DOUTPUT=out.cpp -DSYMBOL=name -P embed.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}
"// Generated from ${INPUT}; do not edit.
#include <cstddef>
#include <cstdint>

namespace zx {
extern const std::uint8_t ${SYMBOL}[];
extern const std::size_t ${SYMBOL}Size;
const std::uint8_t ${SYMBOL}[] = {
    ${bytes}
};
const std::size_t ${SYMBOL}Size = ${byteCount};
} // namespace zx
")
