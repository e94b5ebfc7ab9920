# Writes a C++ source that holds the bytes of a text file, for programs that must
# not read the file at run time. Called at build time:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DHEADER=path/of/header.h -DNAMESPACE=ns -DFUNCTION=name -P embed_text.cmake
# The bytes become an array initialiser rather than a string literal, which
# compilers limit in length (MSVC to 16 KB a piece).
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line_of_bytes)
string(REGEX REPLACE "(${line_of_bytes})" "\\1\n    " bytes "${bytes}")
get_filename_component(input_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${input_name} at build time; edit that file instead.
#include \"${HEADER}\"

namespace ${NAMESPACE} {
namespace {
// The text and a final zero, so that an empty file still makes an array.
constexpr unsigned char bytes[] = {
    ${bytes}0x00};
} // namespace

std::string_view ${FUNCTION}() {
    return {reinterpret_cast<const char*>(bytes), sizeof bytes - 1};
}

} // namespace ${NAMESPACE}
")
# Touch the output only when it changes, so that nothing rebuilds needlessly.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
