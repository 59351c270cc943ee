# Run as a script by the build: turns the installer without payload into the definition of
# EmbeddedStub(), so drelix-pack carries it inside itself.
#   cmake -DSTUB=<installer_stub.exe> -DOUTPUT=<embedded_stub.cpp> -P embed_stub.cmake
file(READ "${STUB}" hex HEX)
if(hex STREQUAL "")
  message(FATAL_ERROR "the stub \"${STUB}\" is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line keeps the generated file readable in a diff.
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
# The stub's file name only: the build's folder would make the tool's symbols differ between builds.
get_filename_component(stub_name "${STUB}" NAME)
file(WRITE "${OUTPUT}.new" "// Generated from ${stub_name} by embed_stub.cmake.\n"
                           "#include \"host/embedded_stub.h\"\n\n"
                           "namespace {\n\nconstexpr std::uint8_t kStub[] = {\n  ${bytes}\n};\n\n}  // namespace\n\n"
                           "std::span<const std::uint8_t> EmbeddedStub() { return kStub; }\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
